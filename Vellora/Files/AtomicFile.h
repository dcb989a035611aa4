#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

// Whole-file writes that either reach the disk or leave the old file exactly as it was. Every step is checked:
// the temporary file is made beside the target, written, flushed to the disk, renamed over the target, and the
// folder is flushed so that the rename itself survives a power cut. On any failure the temporary file is removed
// and the reason comes back in words ("disk full").
namespace AtomicFile {

enum class Step { open, write, sync, close, rename, syncFolder };

struct Error
{
    QString reason; // in words, for a person: "disk full", "permission denied"
    int code = 0;   // errno, 0 when the failure is not the system's
};

// Writes `bytes` as the whole content of `path`. A new file gets mode 0600; an existing file keeps its mode where it
// is stricter. A path that is a symbolic link writes the file it points to. A path that exists and is not a
// regular file (a folder, a FIFO, a device) is refused and left alone.
std::optional<Error> write(const QString &path, const QByteArray &bytes);

// Reads a whole regular file without ever blocking on a FIFO or a device. None, with the reason in `error`, when
// the path is not a regular file or cannot be read; a missing file gives none with `missing` set. `slack`: room to
// leave in the buffer after the end, for a parser that reads past it.
struct ReadResult
{
    std::optional<QByteArray> bytes;
    std::optional<Error> error;
    bool missing = false;
};
ReadResult read(const QString &path, qsizetype slack = 0);

// Why a path cannot hold a file of ours (it is a folder, a pipe, a device), or none when it is a regular file, does
// not exist yet, or cannot be looked at (then the write says why).
std::optional<Error> checkRegularOrMissing(const QString &path);

// Removes temporary files left beside `path` by writes that were killed half way. Only safe while holding the lock
// that every writer of `path` holds.
void removeLeftovers(const QString &path);

// The pattern of temporary files beside `path`, for tests and clean-ups.
QString temporaryPattern(const QString &path);

// Tests: fail the given step with the errno returned (0: let it run). Cleared by passing an empty function.
using FaultInjector = std::function<int(Step)>;
void setFaultInjector(FaultInjector injector);

// A reason in words for an errno.
QString reasonFor(int code);

} // namespace AtomicFile
