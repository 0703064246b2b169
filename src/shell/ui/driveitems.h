// Drive-list items and their records. Items hold shared references, so clearing
// or refilling a list never frees a record that a running test still reads.
#pragma once

#include <QListWidgetItem>
#include <QMetaType>
#include <QTreeWidgetItem>
#include <memory>

#include "drive/bigdriveinfo.h"

using DriveRecord = std::shared_ptr<TBigDriveInformation>;
Q_DECLARE_METATYPE(DriveRecord)

constexpr int DriveRecordRole = Qt::UserRole + 1;

inline void AttachRecord(QListWidgetItem* item, DriveRecord record) {
    item->setData(DriveRecordRole, QVariant::fromValue(std::move(record)));
}
inline DriveRecord RecordOf(const QListWidgetItem* item) {
    return item ? item->data(DriveRecordRole).value<DriveRecord>() : nullptr;
}
inline void AttachRecord(QTreeWidgetItem* item, DriveRecord record) {
    item->setData(0, DriveRecordRole, QVariant::fromValue(std::move(record)));
}
inline DriveRecord RecordOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, DriveRecordRole).value<DriveRecord>() : nullptr;
}
