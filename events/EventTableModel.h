#pragma once
// The journal as a table, newest first. Rows come from the file a page at a time as the view
// scrolls down (keyset paging on the event id), so a journal of 100 000 events opens as fast
// as one of a hundred; newer events are put on top as they come.
#include "journal/EventJournal.h"

#include <QAbstractTableModel>

#include <vector>

namespace hx {

class EventTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    static constexpr int kPageSize = 500;
    enum Column { TimeColumn, KindColumn, SubjectColumn, TextColumn, AcknowledgedColumn, kColumnCount };

    explicit EventTableModel(EventJournal& journal, QObject* parent = nullptr);

    void setFilter(const EventFilter& filter);
    const EventFilter& filter() const { return filter_; }
    // The events stored since the last look go on top.
    void fetchNewer();
    const JournalEvent& eventAt(int row) const { return events_[size_t(row)]; }
    // The rows' acknowledgement after the journal acknowledged ids (all: every raised alarm).
    void showAcknowledged(const std::vector<int64_t>* ids, EventInstant at);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

  private:
    EventJournal& journal_;
    EventFilter filter_;
    std::vector<JournalEvent> events_;
    bool exhausted_ = false;
    int64_t newestSeen_ = 0; // the journal's newest id at the last look
};

} // namespace hx
