#include "StatusTable.h"

#include "ui/Twips.h"

#include <QTableWidget>

namespace hx {

QString statusHeaderText(int column) {
    return column == 0 ? QStringLiteral("编号 ") : QStringLiteral("状态");
}

QString statusRowUnreadText(int row) {
    if (row >= 1 && row <= 24) return QStringLiteral("CH %1 —").arg(row - 8 * ((row - 1) / 8));
    if (row == 25 || row == 26) return QStringLiteral("DO %1 —").arg(row - 24);
    return {};
}

void prepareStatusTable(QTableWidget& table, const Twips& tw) {
    table.setRowCount(kStatusTableRows);
    table.setColumnCount(2);
    table.setColumnWidth(0, tw(kStatusColumn0Twips));
    table.setColumnWidth(1, tw(kStatusColumn1Twips));
    for (int column = 0; column < 2; ++column) {
        auto* item = new QTableWidgetItem(statusHeaderText(column));
        item->setBackground(table.window()->palette().button());
        table.setItem(0, column, item);
    }
    for (int r = 1; r < kStatusTableRows; ++r) {
        table.setItem(r, 0, new QTableWidgetItem(QString::number(r)));
        table.setItem(r, 1, new QTableWidgetItem(QString()));
        table.setRowHeight(r, tw(255));
    }
    table.setRowHeight(0, tw(255));
}

void showStatusRows(QTableWidget& table, const int32_t* bits, bool read,
                    const std::array<bool, 27>& unacknowledged) {
    for (int r = 1; r <= kStatusTableStateRows; ++r) {
        table.item(r, 0)->setText(QString::number(r));
        QTableWidgetItem* item = table.item(r, 1);
        item->setText(read ? statusRowText(r, bits[r - 1]) : statusRowUnreadText(r));
        const bool active = read && r <= 24 && bits[r - 1] != 0;
        item->setForeground(active || unacknowledged[size_t(r)] ? QBrush(Qt::red)
                            : read                              ? table.window()->palette().text()
                                                                : QBrush(Qt::gray));
        QFont font = item->font();
        font.setBold(unacknowledged[size_t(r)]);
        item->setFont(font);
    }
}

} // namespace hx
