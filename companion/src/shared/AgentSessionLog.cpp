#include "AgentSessionLog.h"

namespace kestro::companion {

void AgentSessionLog::append(const QString& line) {
    const int end = int(m_lines.size());
    beginInsertRows(QModelIndex(), end, end);
    m_lines.append(line);
    endInsertRows();
    if (m_lines.size() > kCapacity) {
        const int surplus = int(m_lines.size()) - kCapacity;
        beginRemoveRows(QModelIndex(), 0, surplus - 1);
        m_lines.remove(0, surplus);
        endRemoveRows();
    }
    emit appended();
}

void AgentSessionLog::clear() {
    if (m_lines.isEmpty()) return;
    beginResetModel();
    m_lines.clear();
    endResetModel();
}

int AgentSessionLog::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant AgentSessionLog::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    if (role != LineRole && role != Qt::DisplayRole) return {};
    return m_lines.at(index.row());
}

QHash<int, QByteArray> AgentSessionLog::roleNames() const {
    return {{LineRole, QByteArrayLiteral("line")}};
}

} // namespace kestro::companion
