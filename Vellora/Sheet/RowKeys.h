#pragma once

#include <optional>

class QKeyEvent;

// The keys of a row that has the keyboard focus, on Today and in the Backlog. A key the row does not know is left
// to the page, which may open a free row with it.
namespace RowKeys {

enum class Action { edit, toggle, remove, stepUp, stepDown, toBacklog, previous, next };

std::optional<Action> actionFor(const QKeyEvent &event);

} // namespace RowKeys
