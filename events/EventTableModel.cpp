#include "EventTableModel.h"

#include <QBrush>
#include <QFont>

#include <algorithm>

namespace hx {

EventTableModel::EventTableModel(EventJournal& journal, QObject* parent)
    : QAbstractTableModel(parent), journal_(journal) {
    setFilter(EventFilter{});
}

void EventTableModel::setFilter(const EventFilter& filter) {
    beginResetModel();
    filter_ = filter;
    events_.clear();
    exhausted_ = false;
    newestSeen_ = journal_.newestId();
    events_ = journal_.page(filter_, std::nullopt, kPageSize);
    exhausted_ = events_.size() < size_t(kPageSize);
    endResetModel();
}

void EventTableModel::fetchNewer() {
    if (journal_.newestId() == newestSeen_) return;
    const int64_t after = events_.empty() ? 0 : events_.front().id;
    newestSeen_ = journal_.newestId();
    std::vector<JournalEvent> newer = journal_.newerThan(filter_, after, kPageSize);
    if (newer.empty()) return;
    if (newer.size() == size_t(kPageSize)) return setFilter(filter_); // too many to splice: start again
    beginInsertRows({}, 0, int(newer.size()) - 1);
    events_.insert(events_.begin(), std::make_move_iterator(newer.begin()),
                   std::make_move_iterator(newer.end()));
    endInsertRows();
}

void EventTableModel::showAcknowledged(const std::vector<int64_t>* ids, EventInstant at) {
    for (size_t row = 0; row < events_.size(); ++row) {
        JournalEvent& e = events_[row];
        if (!e.needsAcknowledgement() || e.acknowledgedAt) continue;
        if (ids && std::find(ids->begin(), ids->end(), e.id) == ids->end()) continue;
        e.acknowledgedAt = at;
        emit dataChanged(index(int(row), 0), index(int(row), kColumnCount - 1));
    }
}

int EventTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(events_.size());
}

int EventTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant EventTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(events_.size())) return {};
    const JournalEvent& e = events_[size_t(index.row())];
    const bool waiting = e.needsAcknowledgement() && !e.acknowledgedAt;
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case TimeColumn:
            return eventTimeText(e.at);
        case KindColumn:
            return kindText(e.kind);
        case SubjectColumn:
            return e.subject;
        case TextColumn:
            return e.text;
        case AcknowledgedColumn:
            return e.acknowledgedAt ? eventTimeText(*e.acknowledgedAt)
                   : waiting        ? QStringLiteral("未确认")
                                    : QString();
        default:
            return {};
        }
    case Qt::ForegroundRole:
        // What still needs the operator stands out as in the main window's status table.
        if (waiting || e.kind == EventKind::WriteFailed) return QBrush(Qt::red);
        return {};
    case Qt::FontRole:
        if (waiting) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    default:
        return {};
    }
}

QVariant EventTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    static const char16_t* const titles[] = {u"时间", u"类别", u"通道/寄存器", u"内容", u"确认时间"};
    return section >= 0 && section < kColumnCount ? QString::fromUtf16(titles[section]) : QVariant();
}

bool EventTableModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && !exhausted_;
}

void EventTableModel::fetchMore(const QModelIndex& parent) {
    if (parent.isValid() || exhausted_) return;
    std::vector<JournalEvent> older = journal_.page(
        filter_, events_.empty() ? std::nullopt : std::optional<int64_t>(events_.back().id), kPageSize);
    exhausted_ = older.size() < size_t(kPageSize);
    if (older.empty()) return;
    beginInsertRows({}, int(events_.size()), int(events_.size() + older.size()) - 1);
    events_.insert(events_.end(), std::make_move_iterator(older.begin()),
                   std::make_move_iterator(older.end()));
    endInsertRows();
}

} // namespace hx
