#pragma once

#include <QAbstractTableModel>
#include <QByteArray>
#include <QIcon>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "formats/jpeg_decoder.h"

namespace yuragi {

// The rows of the detection list, shared by all four view styles.
class DetectionModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  struct Row {
    QByteArray path;                  // the file's exact bytes
    QString caption;                  // full path as shown
    QString sizeText;                 // " #,0"
    std::optional<QString> timeText;  // missing when the time could not be read
    QIcon icon;                       // thumbnail and small icon
    QString stateText;                // "途中まで (63%)", "後ろにデータ", "破損"
    double stateOrder = 0;            // sorts cut files by how much is there, then the others
    JpegEnd state = JpegEnd::Cut;
  };

  // The text and sort key of the state column for a stream as the walk found it.
  static QString StateText(const JpegCheck& stream);
  static double StateOrder(const JpegCheck& stream);

  using QAbstractTableModel::QAbstractTableModel;

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  void Append(Row row);
  void Clear();
  void Remove(int row);
  const Row& At(int row) const { return rows_[size_t(row)]; }

  // Stable sort by a three-way comparison; selection and other persistent
  // indexes follow their rows.
  void Sort(const std::function<int(const Row&, const Row&)>& compare);

 private:
  std::vector<Row> rows_;
};

}  // namespace yuragi
