// Ed25519 through libsodium, in its pre-hashed form so that a build is read in pieces and never
// held in memory whole.
#include "UpdateSignature.h"

#include "BuildInfo.h"

#include <QFile>
#include <QRegularExpression>
#include <QVersionNumber>

#include <sodium.h>

namespace {

// Binds a signature to this use: a signature made for anything else never verifies here.
constexpr char kContext[] = "Q17-Tallyframe build\n";

bool sodiumReady()
{
    static const bool ready = sodium_init() >= 0;
    return ready;
}

const QRegularExpression& versionPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{1,9}\\.\\d{1,9}\\.\\d{1,9}$"));
    return pattern;
}

// Feeds the context, the version and the file into the state; false on a read error.
bool hashBuild(crypto_sign_state* state, const QString& file, const QString& version)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    crypto_sign_init(state);
    const QByteArray head = QByteArray(kContext) + version.toUtf8() + '\n';
    crypto_sign_update(state, reinterpret_cast<const unsigned char*>(head.constData()),
                       quint64(head.size()));
    QByteArray chunk(1 << 16, Qt::Uninitialized);
    qint64 got = 0;
    while ((got = in.read(chunk.data(), chunk.size())) > 0)
        crypto_sign_update(state, reinterpret_cast<const unsigned char*>(chunk.constData()),
                           quint64(got));
    return got == 0; // the end of the file, not a read error
}

} // namespace

QByteArray SignatureFileText(const BuildSignature& signature)
{
    return "version: " + signature.version.toUtf8() +
           "\nsignature: " + signature.signature.toBase64() + '\n';
}

bool ParseSignatureFile(const QByteArray& text, BuildSignature* out)
{
    BuildSignature read;
    bool hasVersion = false;
    bool hasSignature = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith("version:") && !hasVersion) {
            read.version = QString::fromUtf8(line.mid(8).trimmed());
            hasVersion = versionPattern().match(read.version).hasMatch();
        } else if (line.startsWith("signature:") && !hasSignature) {
            const auto decoded = QByteArray::fromBase64Encoding(
                line.mid(10).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
            read.signature = decoded.decoded;
            hasSignature = bool(decoded) && read.signature.size() == crypto_sign_BYTES;
        } else {
            return false;
        }
    }
    if (!hasVersion || !hasSignature)
        return false;
    *out = read;
    return true;
}

int CompareVersions(const QString& a, const QString& b)
{
    const bool va = versionPattern().match(a).hasMatch();
    const bool vb = versionPattern().match(b).hasMatch();
    if (!va || !vb)
        return int(va) - int(vb);
    return QVersionNumber::compare(QVersionNumber::fromString(a), QVersionNumber::fromString(b));
}

QByteArray UpdatePublicKey()
{
    // A key built in is final: nothing in the environment can swap it for another.
    QByteArray text = QByteArray(TALLYFRAME_UPDATE_PUBLIC_KEY).trimmed();
    if (text.isEmpty())
        text = qgetenv("TALLYFRAME_UPDATE_PUBLIC_KEY").trimmed();
    if (text.isEmpty())
        return {};
    const QByteArray key = QByteArray::fromBase64(text);
    // A key that was set but cannot be read must not turn into "no key": keep it non-empty.
    return key.isEmpty() ? text : key;
}

bool GenerateUpdateKeys(QByteArray* publicKey, QByteArray* secretKey)
{
    if (!sodiumReady())
        return false;
    publicKey->resize(crypto_sign_PUBLICKEYBYTES);
    secretKey->resize(crypto_sign_SECRETKEYBYTES);
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(publicKey->data()),
                        reinterpret_cast<unsigned char*>(secretKey->data()));
    return true;
}

QByteArray SignBuild(const QString& file, const QString& version, const QByteArray& secretKey)
{
    if (!sodiumReady() || secretKey.size() != crypto_sign_SECRETKEYBYTES ||
        !versionPattern().match(version).hasMatch())
        return {};
    crypto_sign_state state;
    if (!hashBuild(&state, file, version))
        return {};
    QByteArray signature(crypto_sign_BYTES, Qt::Uninitialized);
    if (crypto_sign_final_create(
            &state, reinterpret_cast<unsigned char*>(signature.data()), nullptr,
            reinterpret_cast<const unsigned char*>(secretKey.constData())) != 0)
        return {};
    return signature;
}

bool VerifyBuild(const QString& file, const BuildSignature& signature, const QByteArray& publicKey)
{
    if (!sodiumReady() || publicKey.size() != crypto_sign_PUBLICKEYBYTES ||
        signature.signature.size() != crypto_sign_BYTES)
        return false;
    crypto_sign_state state;
    if (!hashBuild(&state, file, signature.version))
        return false;
    QByteArray sig = signature.signature; // the library wants a writable buffer
    return crypto_sign_final_verify(
               &state, reinterpret_cast<unsigned char*>(sig.data()),
               reinterpret_cast<const unsigned char*>(publicKey.constData())) == 0;
}
