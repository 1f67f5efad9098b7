// Reading and replacing the [Server NAME] sections of the settings file's text.
#include "engine/saved_server_sections.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "engine/tile_server_setting.h"
#include "platform/file_ops.h"
#include "platform/ini_file.h"
#include "platform/text_format.h"
#include "platform/text_lines.h"

namespace {

constexpr std::string_view kSectionPrefix = "Server ";
constexpr std::string_view kHeaderPrefix = "Header.";
constexpr std::string_view kLineEnd = "\r\n";

// "[Name]" gives "Name"; any other line nothing.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = TrimBlanks(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  return TrimBlanks(line.substr(0, line.find(']')));
}

// The server a section name names: "Server NAME" gives "NAME".
std::optional<std::string_view> ServerNameOf(std::string_view section) {
  if (section.size() <= kSectionPrefix.size() || !SameServerName(section.substr(0, kSectionPrefix.size()), kSectionPrefix)) {
    return std::nullopt;
  }
  return TrimBlanks(section.substr(kSectionPrefix.size()));
}

void TakeKey(SavedServer& server, std::vector<std::string>& seen, std::string_view key, std::string_view value) {
  std::string lowered(key);
  std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) { return std::tolower(c); });
  if (std::find(seen.begin(), seen.end(), lowered) != seen.end()) return;  // the first of duplicates wins
  seen.push_back(lowered);
  const std::string text(value.substr(0, kMaxTileServerLength));
  if (SameServerName(key, "Url")) server.url = text;
  if (SameServerName(key, "Subdomains")) server.subdomains = text;
  if (SameServerName(key, "MaxZoom")) server.maxZoom = qm::IntegerFromTextOr(text, kHighestServerZoom);
  if (SameServerName(key, "Attribution")) server.attribution = text;
  if (key.size() > kHeaderPrefix.size() && SameServerName(key.substr(0, kHeaderPrefix.size()), kHeaderPrefix)) {
    server.headers.emplace_back(std::string(key.substr(kHeaderPrefix.size())), text);
  }
}

std::vector<std::string> SectionLines(const SavedServer& server) {
  std::vector<std::string> lines = {"[" + std::string(kSectionPrefix) + server.name + "]", "Url=" + server.url,
                                    "Subdomains=" + server.subdomains, "MaxZoom=" + std::to_string(server.maxZoom),
                                    "Attribution=" + server.attribution};
  for (const auto& [field, value] : server.headers) lines.push_back(std::string(kHeaderPrefix) + field + "=" + value);
  return lines;
}

bool AnyServerCarriesSecrets(std::string_view text) {
  const std::vector<SavedServer> servers = ServerSectionsOf(text);
  return std::any_of(servers.begin(), servers.end(), [](const SavedServer& s) { return HeadersCarrySecrets(s.headers); });
}

}  // namespace

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool SameServerName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::string ReadSettingsText(const std::string& configFile) {
  if (!qm::FileExists(configFile)) return "";
  std::string text = qm::ReadFileUpTo(configFile, qm::IniFile::kMaxFileBytes);
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  return text;
}

void WriteSettingsText(const std::string& configFile, const std::string& text) {
  qm::WriteFileAtomic(configFile, text,
                      AnyServerCarriesSecrets(text) ? qm::FileAccess::kOwnerOnly : qm::FileAccess::kAsBefore);
}

std::vector<SavedServer> ServerSectionsOf(std::string_view text) {
  std::vector<SavedServer> servers;
  std::vector<std::string> seenKeys;
  SavedServer* current = nullptr;
  for (const std::string& line : qm::SplitTextLines(text)) {
    if (const auto section = SectionName(line)) {
      current = nullptr;
      const auto name = ServerNameOf(*section);
      if (!name || std::any_of(servers.begin(), servers.end(), [&](const auto& s) { return SameServerName(s.name, *name); })) {
        continue;
      }
      servers.emplace_back().name = std::string(*name);
      servers.back().headers.clear();
      current = &servers.back();
      seenKeys.clear();
      continue;
    }
    const std::string_view trimmed = TrimBlanks(line);
    const size_t eq = trimmed.find('=');
    if (current == nullptr || trimmed.empty() || trimmed.front() == ';' || eq == std::string_view::npos) continue;
    TakeKey(*current, seenKeys, TrimBlanks(trimmed.substr(0, eq)), TrimBlanks(trimmed.substr(eq + 1)));
  }
  return servers;
}

std::string WithServerSection(std::string_view text, std::string_view replacedName, const SavedServer* server) {
  std::vector<std::string> lines = qm::SplitTextLines(text);
  std::optional<size_t> place;
  for (size_t i = 0; i < lines.size();) {
    const auto section = SectionName(lines[i]);
    const auto name = section ? ServerNameOf(*section) : std::nullopt;
    if (place || !name || replacedName.empty() || !SameServerName(*name, replacedName)) {
      ++i;
      continue;
    }
    size_t end = i + 1;
    while (end < lines.size() && !SectionName(lines[end])) ++end;
    // The blank line that set a last section apart goes with it.
    const bool last = end == lines.size();
    const size_t from = last && server == nullptr && i > 0 && TrimBlanks(lines[i - 1]).empty() ? i - 1 : i;
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.begin() + static_cast<std::ptrdiff_t>(end));
    place = from;
  }
  if (server != nullptr) {
    std::vector<std::string> section = SectionLines(*server);
    if (place && *place < lines.size()) section.emplace_back();  // apart from the section after it
    if (!place && !lines.empty() && !TrimBlanks(lines.back()).empty()) lines.emplace_back();
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(place.value_or(lines.size())), section.begin(),
                 section.end());
  }
  std::string result;
  for (const std::string& line : lines) result.append(line).append(kLineEnd);
  return result;
}
