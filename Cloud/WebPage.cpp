#include "Cloud/WebPage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace Cloud::WebPage {

namespace {

using Status = QHttpServerResponse::StatusCode;

// Scripts, styles, fonts and connections from this origin only; 'wasm-unsafe-eval' lets libsodium compile its
// WebAssembly, which is all the page evaluates.
constexpr auto kPolicy = "default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; style-src 'self'; "
                         "font-src 'self'; img-src 'self'; connect-src 'self'; manifest-src 'self'; "
                         "base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

QByteArray contentType(const QString &name)
{
    static const std::pair<const char *, const char *> kTypes[] = {
        {".html", "text/html; charset=utf-8"}, {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},   {".ttf", "font/ttf"},
        {".json", "application/json"},         {".svg", "image/svg+xml"},
    };
    for (const auto &[suffix, type] : kTypes) {
        if (name.endsWith(QLatin1String(suffix)))
            return type;
    }
    return "application/octet-stream";
}

// One file in one encoding: its bytes and the tag a cache revalidates them by.
struct Encoded
{
    QByteArray data;
    QByteArray etag;
};

struct File
{
    QByteArray type;
    Encoded plain;
    // Compressed at build time; empty when compressing did not make it smaller.
    Encoded gzip;
};

Encoded encoded(const QByteArray &data)
{
    return {data, '"' + QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex().left(32) + '"'};
}

QByteArray header(const QHttpServerRequest &request, const char *name)
{
    QByteArray joined;
    for (const auto &[key, value] : request.headers()) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            joined += (joined.isEmpty() ? "" : ",") + value;
    }
    return joined;
}

// The q-value of gzip, else of "*"; none given refuses.
bool acceptsGzip(const QHttpServerRequest &request)
{
    std::optional<bool> gzip, any;
    for (const QByteArray &entry : header(request, "accept-encoding").split(',')) {
        const QList<QByteArray> parts = entry.split(';');
        const QByteArray coding = parts.first().trimmed().toLower();
        bool wanted = true;
        for (const QByteArray &parameter : parts.mid(1)) {
            const QByteArray trimmed = parameter.trimmed().toLower();
            if (trimmed.startsWith("q="))
                wanted = trimmed.mid(2).toDouble() > 0;
        }
        if (coding == "gzip" || coding == "x-gzip")
            gzip = wanted;
        else if (coding == "*")
            any = wanted;
    }
    return gzip.value_or(any.value_or(false));
}

void setHeaders(QHttpServerResponse &response, const Encoded &body, bool gzip)
{
    response.setHeader("Content-Security-Policy", kPolicy);
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Referrer-Policy", "no-referrer");
    response.setHeader("Cross-Origin-Opener-Policy", "same-origin");
    // Kept, but asked again each time: an unchanged file costs a 304, a new server's page is seen at once.
    response.setHeader("Cache-Control", "no-cache");
    // The same address answers in two encodings: a shared cache keeps them apart, and each has its own tag.
    response.setHeader("Vary", "Accept-Encoding");
    response.setHeader("ETag", body.etag);
    if (gzip)
        response.setHeader("Content-Encoding", "gzip");
}

QHttpServerResponse serve(const File &file, const QHttpServerRequest &request)
{
    const bool gzip = !file.gzip.data.isEmpty() && acceptsGzip(request);
    const Encoded &body = gzip ? file.gzip : file.plain;
    const QList<QByteArray> tags = header(request, "if-none-match").split(',');
    if (std::any_of(tags.begin(), tags.end(), [&](const QByteArray &tag) { return tag.trimmed() == body.etag; })) {
        QHttpServerResponse notModified(Status::NotModified);
        setHeaders(notModified, body, gzip);
        return notModified;
    }
    QHttpServerResponse response(file.type, body.data);
    setHeaders(response, body, gzip);
    return response;
}

QByteArray readResource(const QString &path)
{
    QFile resource(path);
    if (!resource.open(QIODevice::ReadOnly))
        qFatal("vellora-cloud: the page's file %s cannot be read", qPrintable(path));
    return resource.readAll();
}

} // namespace

void addRoutes(QHttpServer &http)
{
    const QDir folder(QStringLiteral(":/web"));
    const QStringList names = folder.entryList(QDir::Files);
    for (const QString &name : names) {
        if (name.endsWith(QLatin1String(".gz")))
            continue;
        File file{contentType(name), encoded(readResource(folder.filePath(name))), {}};
        if (names.contains(name + QLatin1String(".gz"))) {
            const QByteArray compressed = readResource(folder.filePath(name + QLatin1String(".gz")));
            if (compressed.size() < file.plain.data.size())
                file.gzip = encoded(compressed);
        }
        const auto answer = [file](const QHttpServerRequest &request) { return serve(file, request); };
        http.route(QLatin1Char('/') + QRegularExpression::escape(name), QHttpServerRequest::Method::Get, answer);
        if (name == QLatin1String("index.html"))
            http.route(QStringLiteral("/"), QHttpServerRequest::Method::Get, answer);
    }
}

} // namespace Cloud::WebPage
