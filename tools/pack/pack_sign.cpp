// `usb-iap-pack keygen`, `sign` and `verify`: the product owner's key pair,
// signing a tool's package in place, and checking a tool against a key.
#include <memory>
#include <stdexcept>

#include "pack/file_io.h"
#include "pack/pack_commands.h"
#include "pack/pack_options.h"
#include "pack/pack_subcommand.h"
#include "package/package_signature.h"
#include "package/trust.h"

namespace iap::pack {

namespace fs = std::filesystem;

int keygenCommand(const fs::path& name, std::ostream& out) {
    const KeyPair keys = generateKeyPair();
    writeKeyPair(name, keys);
    out << "wrote " << secretKeyPath(name).string() << " (the secret key: keep it to yourself) and "
        << publicKeyPath(name).string() << " (for the stations)\n"
        << "fingerprint " << fingerprint(keys.publicKey) << "\n";
    return 0;
}

int signCommand(const fs::path& tool, const fs::path& keyFile, std::ostream& out) {
    const KeyPair keys = readSecretKeyFile(keyFile);
    const std::vector<uint8_t> signedFile = signToolFile(readWholeFile(tool), keys);
    std::error_code ec;
    const fs::perms perms = fs::status(tool, ec).permissions();
    const unsigned mode = ec || perms == fs::perms::unknown ? 0755u : static_cast<unsigned>(perms) & 07777u;
    writeFileAtomically(tool, {std::span<const uint8_t>(signedFile)}, mode);
    out << "signed " << tool.string() << " with the key " << fingerprint(keys.publicKey) << "\n";
    return 0;
}

int verifyCommand(const fs::path& tool, const fs::path& keyFile, std::ostream& out, std::ostream& err) {
    const TrustedKeys trust{{readPublicKeyFile(keyFile)}};
    const std::vector<uint8_t> bytes = readWholeFile(tool);
    const PackageParse parse = parsePackage(bytes);
    if (!parse.package) throw std::runtime_error(tool.string() + ": no valid tool package: " + parse.error);
    const TrustCheck check = checkTrust(readPackageSignature(bytes, parse), trust);
    switch (check.verdict) {
        case TrustVerdict::Accepted:
            out << tool.string() << ": signed by the key " << fingerprint(trust.keys[0]) << "\n";
            return 0;
        case TrustVerdict::Unsigned: err << "usb-iap-pack: " << tool.string() << ": " << check.text << "\n"; return 3;
        case TrustVerdict::OtherKey: err << "usb-iap-pack: " << tool.string() << ": " << check.text << "\n"; return 4;
        case TrustVerdict::Changed: err << "usb-iap-pack: " << tool.string() << ": " << check.text << "\n"; return 5;
    }
    return 1;
}

namespace {

// A subcommand taking one positional argument and a required option.
CLI::App* fileAndKey(CLI::App& app, const char* name, const char* help, std::shared_ptr<std::string> file,
                     const char* fileHelp, std::shared_ptr<std::string> key, const char* keyHelp) {
    CLI::App* sub = app.add_subcommand(name, help);
    sub->allow_extras();
    sub->add_option("TOOL", *file, fileHelp);
    sub->add_option("--key", *key, keyHelp)->type_name(std::string(name) == "sign" ? "NAME.key" : "NAME.pub");
    return sub;
}

void checkFileAndKey(const CLI::App& sub, const char* name) {
    if (sub.count("TOOL") != 1) throw UsageError(std::string(name) + " takes one argument: the tool file");
    refuseExtras(sub);
    if (sub.count("--key") != 1) throw UsageError(std::string(name) + ": --key is required");
}

}  // namespace

void addKeygenCommand(CLI::App& app, CommandIo& io) {
    CLI::App* keygen = app.add_subcommand("keygen", "write a new signing key pair: NAME.key (secret) and NAME.pub");
    keygen->allow_extras();
    auto name = std::make_shared<std::string>();
    keygen->add_option("--out", *name, "the name of the pair; an existing key is never overwritten")
        ->type_name("NAME");
    keygen->callback([keygen, name, &io] {
        refuseExtras(*keygen);
        if (keygen->count("--out") != 1) throw UsageError("keygen: --out NAME is required");
        io.status = keygenCommand(*name, io.out);
    });
}

void addSignCommand(CLI::App& app, CommandIo& io) {
    auto file = std::make_shared<std::string>(), key = std::make_shared<std::string>();
    CLI::App* sign = fileAndKey(app, "sign", "sign the package of TOOL in place (written whole or not at all)",
                                file, "a product tool, not yet code-signed", key, "the secret key");
    sign->callback([sign, file, key, &io] {
        checkFileAndKey(*sign, "sign");
        io.status = signCommand(*file, *key, io.out);
    });
}

void addVerifyCommand(CLI::App& app, CommandIo& io) {
    auto file = std::make_shared<std::string>(), key = std::make_shared<std::string>();
    CLI::App* verify = fileAndKey(app, "verify", "check that TOOL's package is signed by the key NAME.pub",
                                  file, "a product tool (code-signed or not)", key, "the public key");
    verify->footer(
        "Exit status: 0 signed by that key and unchanged since; 1 a file cannot be read or\n"
        "holds no valid package; 2 a command line that cannot be understood; 3 unsigned;\n"
        "4 signed by another key; 5 changed after signing.");
    verify->callback([verify, file, key, &io] {
        checkFileAndKey(*verify, "verify");
        io.status = verifyCommand(*file, *key, io.out, io.err);
    });
}

}  // namespace iap::pack
