#include "Cloud/SecretFiles.h"

#include <QDateTime>
#include <QFile>
#include <QSslCertificate>
#include <QSslKey>
#include <QSslSocket>

namespace Cloud {

std::variant<std::optional<QSslConfiguration>, QString> tlsConfiguration(const TlsFiles &options, QString &warning)
{
    if (options.tlsCertificate.isEmpty() && options.tlsKey.isEmpty())
        return std::optional<QSslConfiguration>();
    if (options.tlsCertificate.isEmpty() || options.tlsKey.isEmpty())
        return QStringLiteral("--tls-cert and --tls-key go together");
    if (!QSslSocket::supportsSsl())
        return QStringLiteral("this Qt has no TLS library to use (Debian package libssl3)");
    QFile certificateFile(options.tlsCertificate);
    if (!certificateFile.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the certificate %1: %2")
            .arg(options.tlsCertificate, certificateFile.errorString());
    const QList<QSslCertificate> chain = QSslCertificate::fromData(certificateFile.readAll(), QSsl::Pem);
    if (chain.isEmpty() || chain.first().isNull())
        return QStringLiteral("%1 holds no certificate in PEM form").arg(options.tlsCertificate);
    QFile keyFile(options.tlsKey);
    if (!keyFile.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read the key %1: %2").arg(options.tlsKey, keyFile.errorString());
    const QByteArray keyText = keyFile.readAll();
    QSslKey key;
    for (const QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec, QSsl::Dsa}) {
        if (key.isNull())
            key = QSslKey(keyText, algorithm, QSsl::Pem, QSsl::PrivateKey);
    }
    if (key.isNull())
        return QStringLiteral("%1 holds no private key in PEM form (RSA, EC or DSA, without a passphrase)")
            .arg(options.tlsKey);
    if (chain.first().expiryDate() < QDateTime::currentDateTimeUtc())
        warning = QStringLiteral("the certificate %1 expired on %2; devices will refuse it")
                      .arg(options.tlsCertificate, chain.first().expiryDate().toString(Qt::ISODate));
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificateChain(chain);
    configuration.setPrivateKey(key);
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    return std::optional(configuration);
}

bool readPassword(const QString &path, QString &password, QString &error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return false;
    }
    QByteArray line = file.readLine(4096);
    if (line.isEmpty() && file.error() != QFileDevice::NoError) {
        error = QStringLiteral("cannot read the password file %1: %2").arg(path, file.errorString());
        return false;
    }
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    if (line.isEmpty()) {
        error = QStringLiteral("the password file %1 is empty").arg(path);
        return false;
    }
    password = QString::fromUtf8(line);
    return true;
}

} // namespace Cloud
