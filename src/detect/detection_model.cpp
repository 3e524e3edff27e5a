#include "detect/detection_model.h"

#include <algorithm>
#include <numeric>

namespace yuragi {

int DetectionModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(rows_.size());
}

int DetectionModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 4; }

QString DetectionModel::StateText(const JpegCheck& stream) {
  switch (stream.end) {
    case JpegEnd::Cut: {
      // Rounded down: a picture that misses its last row is not 100 %.
      const int percent = std::clamp(int(stream.present * 100), 0, 99);
      return QStringLiteral("途中まで (%1%)").arg(percent);
    }
    case JpegEnd::Trailing: return QStringLiteral("後ろにデータ");
    case JpegEnd::Damaged: return QStringLiteral("破損");
    case JpegEnd::Complete: return {};
  }
  return {};
}

double DetectionModel::StateOrder(const JpegCheck& stream) {
  switch (stream.end) {
    case JpegEnd::Cut: return stream.present;
    case JpegEnd::Trailing: return 2;
    case JpegEnd::Damaged: return 3;
    case JpegEnd::Complete: return 4;
  }
  return 4;
}

QVariant DetectionModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount()) return {};
  const Row& row = rows_[size_t(index.row())];
  switch (role) {
    case Qt::ToolTipRole:
      // The views without the state column show it here.
      if (index.column() == 0 && !row.stateText.isEmpty()) return row.caption + QLatin1Char('\n') + row.stateText;
      [[fallthrough]];
    case Qt::DisplayRole:
      if (index.column() == 0) return row.caption;
      if (index.column() == 1) return row.sizeText;
      if (index.column() == 3) return row.stateText;
      return row.timeText.value_or(QString());
    case Qt::DecorationRole:
      return index.column() == 0 ? QVariant(row.icon) : QVariant();
    case Qt::TextAlignmentRole:
      return index.column() == 1 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    default:
      return {};
  }
}

QVariant DetectionModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) {
    static const QString captions[] = {QStringLiteral("名前"), QStringLiteral("サイズ"),
                                       QStringLiteral("更新日時"), QStringLiteral("状態")};
    return section >= 0 && section < 4 ? captions[section] : QString();
  }
  if (role == Qt::TextAlignmentRole && section == 1) return QVariant(Qt::AlignRight | Qt::AlignVCenter);
  return {};
}

void DetectionModel::Append(Row row) {
  const int at = rowCount();
  beginInsertRows({}, at, at);
  rows_.push_back(std::move(row));
  endInsertRows();
}

void DetectionModel::Clear() {
  beginResetModel();
  rows_.clear();
  endResetModel();
}

void DetectionModel::Remove(int row) {
  if (row < 0 || row >= rowCount()) return;
  beginRemoveRows({}, row, row);
  rows_.erase(rows_.begin() + row);
  endRemoveRows();
}

void DetectionModel::Sort(const std::function<int(const Row&, const Row&)>& compare) {
  emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
  std::vector<int> order(rows_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return compare(rows_[size_t(a)], rows_[size_t(b)]) < 0; });
  std::vector<Row> sorted;
  sorted.reserve(rows_.size());
  std::vector<int> newPosition(rows_.size());
  for (size_t i = 0; i < order.size(); ++i) {
    sorted.push_back(std::move(rows_[size_t(order[i])]));
    newPosition[size_t(order[i])] = int(i);
  }
  rows_ = std::move(sorted);
  const QModelIndexList before = persistentIndexList();
  QModelIndexList after;
  after.reserve(before.size());
  for (const QModelIndex& index : before) {
    after << this->index(newPosition[size_t(index.row())], index.column());
  }
  changePersistentIndexList(before, after);
  emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

}  // namespace yuragi
