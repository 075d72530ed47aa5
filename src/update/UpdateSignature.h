// Signed builds: a published build comes with a small signature file that names the version it
// signs, so that the agent starts only builds made by whoever holds the secret key, and never
// an older one passed off as new.
#pragma once

#include <QByteArray>
#include <QString>

// What a signature file holds.
struct BuildSignature
{
    QString version;      // X.Y.Z
    QByteArray signature; // Ed25519 (pre-hashed), 64 bytes
};

// Text of a signature file: "version: X.Y.Z" and "signature: BASE64", one per line.
QByteArray SignatureFileText(const BuildSignature& signature);
// Reads that text; false for anything else (also for a version that is not X.Y.Z).
bool ParseSignatureFile(const QByteArray& text, BuildSignature* out);

// Compares two X.Y.Z versions part by part as numbers: <0, 0 or >0. Texts that are not X.Y.Z
// sort below every version.
int CompareVersions(const QString& a, const QString& b);

// The public key the agent checks builds with: the one built in, else (for tests, in a build
// without one) TALLYFRAME_UPDATE_PUBLIC_KEY from the environment. Empty when there is none:
// updates are unverified then.
// A key that is not 32 bytes of base64 is returned as it decodes, so that nothing verifies.
QByteArray UpdatePublicKey();

// A new key pair: 32-byte public and 64-byte secret key. False when the library cannot start.
bool GenerateUpdateKeys(QByteArray* publicKey, QByteArray* secretKey);
// Signs the file's bytes together with the version; empty on a read error or a bad key.
QByteArray SignBuild(const QString& file, const QString& version, const QByteArray& secretKey);
// Whether the signature covers this file and this version under the public key.
bool VerifyBuild(const QString& file, const BuildSignature& signature, const QByteArray& publicKey);
