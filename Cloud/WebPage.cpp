#include "Cloud/WebPage.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>

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
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".ttf", "font/ttf"},
        {".json", "application/json"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".webmanifest", "application/manifest+json"},
    };
    for (const auto &[suffix, type] : kTypes) {
        if (name.endsWith(QLatin1String(suffix)))
            return type;
    }
    return "application/octet-stream";
}

struct File
{
    QByteArray type;
    QByteArray data;
    QByteArray etag;
};

void setHeaders(QHttpServerResponse &response, const File &file)
{
    response.setHeader("Content-Security-Policy", kPolicy);
    response.setHeader("X-Content-Type-Options", "nosniff");
    response.setHeader("Referrer-Policy", "no-referrer");
    response.setHeader("Cross-Origin-Opener-Policy", "same-origin");
    // Kept, but asked again each time: an unchanged file costs a 304, a new server's page is seen at once.
    response.setHeader("Cache-Control", "no-cache");
    response.setHeader("ETag", file.etag);
}

QHttpServerResponse serve(const File &file, const QHttpServerRequest &request)
{
    for (const auto &[key, value] : request.headers()) {
        if (key.compare("if-none-match", Qt::CaseInsensitive) == 0 && value.split(',').contains(file.etag)) {
            QHttpServerResponse notModified(Status::NotModified);
            setHeaders(notModified, file);
            return notModified;
        }
    }
    QHttpServerResponse response(file.type, file.data);
    setHeaders(response, file);
    return response;
}

} // namespace

void addRoutes(QHttpServer &http)
{
    const QDir folder(QStringLiteral(":/web"));
    for (const QString &name : folder.entryList(QDir::Files)) {
        QFile resource(folder.filePath(name));
        if (!resource.open(QIODevice::ReadOnly))
            qFatal("vellora-cloud: the page's file %s cannot be read", qPrintable(name));
        File file{contentType(name), resource.readAll(), {}};
        file.etag = '"' + QCryptographicHash::hash(file.data, QCryptographicHash::Sha256).toHex().left(32) + '"';
        const auto answer = [file](const QHttpServerRequest &request) { return serve(file, request); };
        http.route(QLatin1Char('/') + QRegularExpression::escape(name), QHttpServerRequest::Method::Get, answer);
        if (name == QLatin1String("index.html"))
            http.route(QStringLiteral("/"), QHttpServerRequest::Method::Get, answer);
    }
}

} // namespace Cloud::WebPage
