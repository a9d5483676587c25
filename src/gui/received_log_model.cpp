#include "gui/received_log_model.h"

#include "model/received_log.h"

#include <limits>

namespace veltra {

namespace {
// A list view counts rows in int.
constexpr std::size_t kMaxRows = static_cast<std::size_t>(std::numeric_limits<int>::max());
}  // namespace

ReceivedLogModel::ReceivedLogModel(QObject* parent) : QAbstractListModel(parent) {}

std::size_t ReceivedLogModel::sync(const ReceivedLog& log) {
    const std::size_t size = std::min(log.size(), kMaxRows);
    if (&log != m_log || log.generation() != m_generation || size < m_rows) {
        beginResetModel();
        m_log = &log;
        m_generation = log.generation();
        m_rows = size;
        endResetModel();
        return 0;
    }
    if (size == m_rows)
        return 0;
    const std::size_t added = size - m_rows;
    beginInsertRows(QModelIndex(), static_cast<int>(m_rows), static_cast<int>(size - 1));
    m_rows = size;
    endInsertRows();
    return added;
}

int ReceivedLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows);
}

QVariant ReceivedLogModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !m_log || index.row() < 0)
        return {};
    const auto row = static_cast<std::size_t>(index.row());
    if (row >= m_rows || row >= m_log->size())
        return {};
    const std::string_view line = m_log->line(row);
    return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

}  // namespace veltra
