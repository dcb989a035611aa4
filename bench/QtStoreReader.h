#pragma once

#include "Vellora/DayData/DayStore.h"

#include <QByteArray>

#include <optional>

// The store file read with QJsonDocument and QJsonObject into the same values as StoreFile::decode, for weighing
// Qt's parser against the one the program reads with. It reads well-formed files only: none of the mending and
// checks that a file edited by hand needs, which would only add to its cost.
namespace QtStoreReader {

std::optional<DayStore::Saved> read(const QByteArray &bytes);

} // namespace QtStoreReader
