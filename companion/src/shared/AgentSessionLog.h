#pragma once
// The session log as a list model: lines are appended as rows, and the oldest rows are removed
// once more than the capacity are held, so a view keeps its rows (and a reader's place and
// selection) while lines arrive. The keeper keeps one; the window's copy follows it. GUI thread
// only.

#include <QAbstractListModel>
#include <QStringList>

namespace kestro::companion {

class AgentSessionLog : public QAbstractListModel {
    Q_OBJECT

  public:
    static constexpr int kCapacity = 220;
    // The one role: the line's text.
    enum Role { LineRole = Qt::UserRole + 1 };

    explicit AgentSessionLog(QObject* parent = nullptr) : QAbstractListModel(parent) {}

    // Adds a row at the end, then removes the oldest rows beyond the capacity.
    void append(const QString& line);
    // Removes every row.
    void clear();
    // Every line, oldest first.
    const QStringList& lines() const { return m_lines; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

  signals:
    // After every append, once the rows are in place.
    void appended();

  private:
    QStringList m_lines;
};

} // namespace kestro::companion
