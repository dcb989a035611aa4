#pragma once

#include <QSslConfiguration>
#include <QString>

#include <optional>
#include <variant>

namespace Cloud {

// The files a server reads its secrets from, once at its start: kept out of its command line, where anyone on the
// machine can read them.
struct TlsFiles
{
    QString tlsCertificate;
    QString tlsKey;
};

// The certificate chain and private key of --tls-cert and --tls-key (nothing when neither is given), or why they
// cannot be used; a certificate that has expired is used, with a warning.
std::variant<std::optional<QSslConfiguration>, QString> tlsConfiguration(const TlsFiles &files, QString &warning);

// The first line of the file named, without its line break; false with the reason when it cannot be had.
bool readPassword(const QString &path, QString &password, QString &error);

} // namespace Cloud
