#pragma once

#include <QAbstractListModel>

#include <cstddef>
#include <cstdint>

namespace veltra {

class ReceivedLog;

// The received-data log as a list model. It reads the lines straight from the
// log, so a million lines cost no copies; sync() tells the view what changed
// since the last call: appended rows, or a reset after "Clear".
class ReceivedLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ReceivedLogModel(QObject* parent = nullptr);

    // The log must stay alive until the next sync() (or the model's end).
    // Returns the number of rows appended (0 after a reset).
    std::size_t sync(const ReceivedLog& log);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    const ReceivedLog* m_log = nullptr;
    std::size_t m_rows = 0;
    std::uint64_t m_generation = 0;
};

}  // namespace veltra
