// Loaded with LD_PRELOAD into a program under test, makes chosen calls fail: faults that a test cannot cause from
// outside on every machine (a folder that cannot be flushed, a mode that cannot be set even by root, a ROLLBACK that
// does not happen). FAILING_CALLS holds rules separated by ';', each CALL:TEXT or CALL:TEXT:TIMES:
//   chmod, rename, fsync  fail when the path (rename: the source; fsync: the open file's) contains TEXT
//   sqlite3_step          fails, without running it, a statement whose SQL starts with TEXT
// TIMES is how often the rule fails a call before it lets them pass; every time when it is absent.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Rule
{
    std::string call;
    std::string text;
    int left = -1; // negative: every time
};

std::vector<Rule> parseRules()
{
    std::vector<Rule> rules;
    const char *given = std::getenv("FAILING_CALLS");
    const std::string text = given ? given : "";
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const std::size_t colon = item.find(':');
        if (colon == std::string::npos)
            continue;
        Rule rule{item.substr(0, colon), item.substr(colon + 1), -1};
        const std::size_t last = rule.text.rfind(':');
        if (last != std::string::npos && last + 1 < rule.text.size() &&
            rule.text.find_first_not_of("0123456789", last + 1) == std::string::npos) {
            rule.left = std::atoi(rule.text.c_str() + last + 1);
            rule.text.resize(last);
        }
        rules.push_back(rule);
    }
    return rules;
}

bool shouldFail(const char *call, const char *subject, bool prefix)
{
    static std::mutex mutex;
    static std::vector<Rule> rules = parseRules();
    if (!subject)
        return false;
    const std::lock_guard lock(mutex);
    for (Rule &rule : rules) {
        if (rule.call != call || rule.left == 0)
            continue;
        const bool matches = prefix ? std::strncmp(subject, rule.text.c_str(), rule.text.size()) == 0
                                    : std::strstr(subject, rule.text.c_str()) != nullptr;
        if (!matches)
            continue;
        if (rule.left > 0)
            --rule.left;
        return true;
    }
    return false;
}

template<typename Function> Function next(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// SQLite comes with a plugin loaded on its own, outside the scope RTLD_NEXT searches.
void *sqlite()
{
    static void *library = dlopen("libsqlite3.so.0", RTLD_LAZY);
    return library;
}

} // namespace

extern "C" {

int chmod(const char *path, mode_t mode)
{
    static const auto real = next<int (*)(const char *, mode_t)>("chmod");
    if (shouldFail("chmod", path, false)) {
        errno = EPERM;
        return -1;
    }
    return real(path, mode);
}

int rename(const char *from, const char *to)
{
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    if (shouldFail("rename", from, false)) {
        errno = EIO;
        return -1;
    }
    return real(from, to);
}

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    char link[64];
    char path[PATH_MAX] = {};
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    if (readlink(link, path, sizeof path - 1) > 0 && shouldFail("fsync", path, false)) {
        errno = EIO;
        return -1;
    }
    return real(fd);
}

int sqlite3_step(void *statement)
{
    static const auto real = reinterpret_cast<int (*)(void *)>(dlsym(sqlite(), "sqlite3_step"));
    static const auto sql = reinterpret_cast<const char *(*)(void *)>(dlsym(sqlite(), "sqlite3_sql"));
    constexpr int kIoError = 10; // SQLITE_IOERR
    if (shouldFail("sqlite3_step", sql(statement), true))
        return kIoError;
    return real(statement);
}

} // extern "C"
