#pragma once

#include "app/records/CallRecord.h"

#include <QByteArray>
#include <QList>
#include <optional>

// The history file's JSON: a compact array of records, keys in field order, optional keys left out,
// UUIDs upper case, dates as seconds since 2001-01-01 UTC in their shortest exact decimal form.
namespace HistoryCodec {
// Appends one record's JSON object. Throws AppError when the record cannot be represented (a date
// that is not a finite number).
void appendRecord(QByteArray& out, const CallRecord& record);
QByteArray encodeRecord(const CallRecord& record);
QByteArray encode(const QList<CallRecord>& records);

// The records, or nullopt when the document is not an array of well-formed records: one missing
// required key or one value of the wrong type makes the whole file unreadable.
std::optional<QList<CallRecord>> decode(const QByteArray& bytes);
// One record object, read as `decode` reads each element.
std::optional<CallRecord> decodeRecord(const QByteArray& object);

// What `decode` reads, together with the bytes of each record whose object in the file is already in
// the form `appendRecord` writes (empty for the others), so that saving again need not encode it.
// Much faster than `decode` on a file this program wrote.
struct Decoded {
    QList<CallRecord> records;
    QList<QByteArray> json; // parallel to records
};
std::optional<Decoded> decodeKeepingJson(const QByteArray& bytes);

// Appends `text` as a JSON string literal in UTF-8. Lone surrogates become U+FFFD so the output is
// always valid UTF-8.
void appendString(QByteArray& out, const QString& text);
// The shortest decimal that reads back as the same double.
void appendNumber(QByteArray& out, double value);
} // namespace HistoryCodec
