// The decoded images of a map view: loaded on a thread pool as the view asks for them, kept in
// memory up to a byte budget (least recently drawn out first). Requests the view no longer
// wants are dropped before they are decoded, so panning fast does not queue up work.
#pragma once

#include <functional>
#include <list>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include <QImage>
#include <QObject>
#include <QThreadPool>

#include "mapview/view_geometry.h"

namespace mapview {

class PieceCache : public QObject {
  Q_OBJECT

 public:
  using Loader = std::function<QImage(const PieceKey&)>;  // called on the pool's threads

  PieceCache(Loader loader, size_t budgetBytes, QObject* parent = nullptr);
  ~PieceCache() override;

  // The image when loaded (a null image when the piece has none); nullptr while it is not.
  const QImage* Find(const PieceKey& piece);
  // The pieces to load now, in order; pieces asked for before and not again are dropped.
  void Want(const std::vector<PieceKey>& pieces);
  // Drops a piece so that it is loaded again the next time it is wanted.
  void Forget(const PieceKey& piece);
  void Clear();
  // Drops the pieces that came without an image, so they are asked for again when next wanted.
  void ForgetEmpty();
  // Whether the view still wants the piece loaded; safe from the loader's threads.
  bool StillWanted(const PieceKey& piece) const;
  // Loaders that mostly wait (on a network) may use more threads than the processor has.
  void SetThreadCount(int threads) { pool_.setMaxThreadCount(threads); }
  size_t Bytes() const { return bytes_; }
  size_t Count() const { return entries_.size(); }

 signals:
  void arrived();

 private:
  struct Wanted;
  struct Entry {
    QImage image;
    std::list<PieceKey>::iterator use;
  };
  void Arrive(const PieceKey& piece, QImage image, bool loaded);
  static size_t CostOf(const QImage& image);

  Loader loader_;
  size_t budget_;
  size_t bytes_ = 0;
  size_t keepAtLeast_ = 0;  // the number of images the view asked for last
  std::list<PieceKey> uses_;  // most recent first
  std::unordered_map<PieceKey, Entry, PieceKeyHash> entries_;
  std::unordered_set<PieceKey, PieceKeyHash> pending_, forgotten_;
  std::shared_ptr<Wanted> wanted_;
  QThreadPool pool_;
};

}  // namespace mapview
