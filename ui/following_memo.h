// A read-only memo that keeps its newest line in view while lines arrive, unless the user has
// scrolled up to read, and that is never left scrolled sideways by new text.
#pragma once

class QPlainTextEdit;
class QString;

namespace qm {

// Appends text as new lines. When the view showed the last line, it shows the new last line;
// when the user had scrolled up, it stays where it was. The sideways position is kept.
void AppendFollowing(QPlainTextEdit* memo, const QString& lines);

// Replaces the whole text and shows its last lines from their first character.
void ReplaceShowingEnd(QPlainTextEdit* memo, const QString& text);

}  // namespace qm
