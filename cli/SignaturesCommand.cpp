// tarnwell signatures list FILE | signatures add FILE --ext EXT --start HEX,HEX... [options]

#include <cstdio>
#include <memory>

#include "carve/SignatureRecord.h"
#include "cli/Commands.h"

namespace tarnwell::cli {

namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string s;
    char b[8];
    for (std::uint8_t v : bytes) {
        std::snprintf(b, sizeof b, "%s0x%02X", s.empty() ? "" : ",", v);
        s += b;
    }
    return s.empty() ? "-" : s;
}

int RunList(const std::string& path) {
    SignatureFile file = ReadSignatureFile(path);
    if (!file.error.empty()) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), file.error.c_str());
        return kExitUsage;
    }
    std::printf("%-3s %-5s %-32s %-26s %-11s %-12s %-12s %s\n", "#", "EXT", "START", "END", "SIZE_FIELD", "APPROX",
                "SKIP", "CATEGORY");
    int n = 0;
    for (const auto& r : file.records) {
        std::string field = r.sizeBytes > 0 ? std::to_string(r.sizeOffset) + ":" + std::to_string(r.sizeBytes) : "-";
        std::printf("%-3d %-5s %-32s %-26s %-11s %-12lld %-12lld %s\n", n++, r.extension.c_str(), Hex(r.start).c_str(),
                    Hex(r.end).c_str(), field.c_str(), static_cast<long long>(r.approximateSize),
                    static_cast<long long>(r.skipSize), r.category.c_str());
        if (std::string problem = r.Problem(); !problem.empty())
            std::printf("    never matches: %s\n", problem.c_str());
    }
    for (const auto& why : file.refused) std::fprintf(stderr, "refused %s\n", why.c_str());
    return file.refused.empty() ? kExitOk : kExitErrors;
}

int RunAdd(const std::string& path, const SignatureFields& fields) {
    std::string message;
    auto record = BuildSignatureRecord(fields, message);
    if (!record) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return kExitUsage;
    }
    int index = -1;
    switch (AppendSignatureRecord(path, *record, &index)) {
        case AppendResult::Appended:
            std::printf("record %d (%s) appended to %s\n", index, record->extension.c_str(), path.c_str());
            return kExitOk;
        case AppendResult::CannotCreate: std::fprintf(stderr, "FILE %s: cannot be created\n", path.c_str()); break;
        case AppendResult::FileFull:
            std::fprintf(stderr, "FILE %s: already holds 256 records, the most a settings file holds\n", path.c_str());
            break;
        case AppendResult::WriteFailed: std::fprintf(stderr, "FILE %s: the record could not be written\n", path.c_str()); break;
    }
    return kExitErrors;
}

}  // namespace

void AddSignaturesCommand(CLI::App& app, int& exitCode) {
    CLI::App* cmd = app.add_subcommand("signatures", "Read and write signature settings files");
    cmd->require_subcommand(1);

    auto listPath = std::make_shared<std::string>();
    CLI::App* list = cmd->add_subcommand("list", "Show the types of a settings file");
    list->add_option("FILE", *listPath)->required();
    list->callback([listPath, &exitCode] { exitCode = RunList(*listPath); });

    auto addPath = std::make_shared<std::string>();
    auto f = std::make_shared<SignatureFields>();
    CLI::App* add = cmd->add_subcommand("add", "Append a type to a settings file (created when missing)");
    add->add_option("FILE", *addPath)->required();
    add->add_option("--ext", f->extension, "File extension, without a dot")->required();
    add->add_option("--start", f->start, "Start signature: hex bytes separated by commas (0x2A matches any byte)")
        ->required();
    add->add_option("--end", f->end, "End signature, hex bytes");
    add->add_option("--size-offset", f->sizeOffset, "Offset of the size field in the header");
    add->add_option("--size-bytes", f->sizeBytes, "Bytes of the size field (1 to 8)");
    add->add_option("--header-size", f->headerSize, "Header size in bytes");
    add->add_flag("--size-includes-header", f->sizeIncludesHeader, "The size field counts the header too");
    add->add_option("--skip", f->skipSize, "Bytes to skip after a find");
    add->add_option("--approx", f->approximateSize, "Approximate file size in bytes");
    add->add_option("--category", f->category, "Category the files are listed under");
    add->callback([addPath, f, &exitCode] { exitCode = RunAdd(*addPath, *f); });
}

}  // namespace tarnwell::cli
