// tarnwell carve SOURCE [VOLUME] [--signatures FILE] [--no-defaults] [--keep-partial] [--out DIR] [--json]

#include <cstdio>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>

#include "carve/CarveOutput.h"
#include "carve/Carver.h"
#include "carve/DefaultSignatures.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"
#include "cli/VolumeChoice.h"
#include "partition/PartitionScanner.h"
#include "fs/OutputWriter.h"

namespace tarnwell::cli {

namespace {

struct CarveOptions {
    std::string source;
    VolumeOptions volume;
    std::string signatures;
    bool noDefaults = false;
    bool keepPartial = false;
    std::string out;
    bool json = false;
    std::string mapfile;
};

int RunCarve(const CarveOptions& o) {
    std::unique_ptr<SectorReader> source;
    if (auto problem = OpenSource(o.source, o.mapfile, source)) {
        std::fprintf(stderr, "%s\n", problem->c_str());
        return kExitUsage;
    }
    SectorReader& reader = *source;
    // Carving needs no file system: the whole source unless a volume is chosen.
    VolumeEntry volume;
    volume.sectorCount = reader.deviceSectorCount();
    if (o.volume.volumeIndex > 0) {
        VolumeChoice choice = ChooseVolume(reader, o.volume);
        if (!choice.volume) {
            std::fprintf(stderr, "%s\n", choice.error.c_str());
            return kExitUsage;
        }
        volume = *choice.volume;
    } else if (o.volume.startSector) {
        if (auto wrong = CheckVolumeRange(reader, o.volume)) {
            std::fprintf(stderr, "%s\n", wrong->c_str());
            return kExitUsage;
        }
        volume.sectorSize = SourceSectorSize(reader);
        volume.startSector = *o.volume.startSector;
        const std::uint64_t sectors = reader.fileLength() / volume.sectorSize;
        std::uint64_t rest = sectors > std::uint64_t(volume.startSector) ? sectors - std::uint64_t(volume.startSector) : 0;
        const std::uint64_t perMiB = (1u << 20) / volume.sectorSize;
        volume.sectorCount = o.volume.sizeMiB ? std::min<std::uint64_t>(rest, std::uint64_t(*o.volume.sizeMiB) * perMiB) : rest;
    }
    // The bytes after the last whole sector belong to the volume too.
    const VolumeView view = volume.startSector == 0 && !o.volume.sizeMiB && o.volume.volumeIndex == 0
                                ? VolumeView(reader)
                                : ViewOf(reader, volume);

    Carver engine;
    engine.keepPartial = o.keepPartial;
    std::vector<std::string> refused;
    if (!o.noDefaults) {
        SignatureFile defaults = ParseSignatureFile(DefaultSignatureFileBytes());
        auto r = engine.AddSignatures(defaults.records);
        refused.insert(refused.end(), r.begin(), r.end());
    }
    if (!o.signatures.empty()) {
        SignatureFile user = ReadSignatureFile(o.signatures);
        if (!user.error.empty()) {
            std::fprintf(stderr, "%s: %s\n", o.signatures.c_str(), user.error.c_str());
            return kExitUsage;
        }
        for (const auto& why : user.refused) refused.push_back(o.signatures + ": " + why);
        auto r = engine.AddSignatures(user.records);
        refused.insert(refused.end(), r.begin(), r.end());
    }
    for (const auto& why : refused) std::fprintf(stderr, "refused %s\n", why.c_str());
    if (engine.Settings().empty()) {
        std::fprintf(stderr, "no signature types to look for\n");
        return kExitUsage;
    }

    std::unique_ptr<OutputWriter> writer;
    std::unique_ptr<CarveOutput> output;
    if (!o.out.empty()) {
        writer = std::make_unique<OutputWriter>(o.out);
        writer->RefuseSource(o.source);
        if (auto problem = writer->Problem()) {
            std::fprintf(stderr, "%s\n", problem->c_str());
            return kExitUsage;
        }
        output = std::make_unique<CarveOutput>(*writer);
    }

    TerminalProgress progress;
    progress.Report(Event(Step::Carving));
    JobControl control;
    InterruptGuard guard(control);
    // A stop mid-file discards that file instead of leaving it cut short.
    if (writer) writer->SetStop(&control);
    std::uint64_t written = 0;
    engine.CarveVolume(view, progress, &control, [&](const FoundFile& f) {
        std::string ext = engine.Extension(f), category = engine.Category(f);
        std::int64_t offset = static_cast<std::int64_t>(view.offset()) + f.start;
        std::string relative;
        if (output) {
            relative = output->Write(view, {f.start, f.length, ext, category, {}, f.partial}, offset);
            if (!relative.empty()) ++written;
        }
        const char* status = output && relative.empty() ? "failed" : f.partial ? "partial" : "ok";
        if (o.json) {
            nlohmann::json j = {{"offset", offset}, {"type", ext}, {"category", category},
                                {"size", f.length}, {"status", status}};
            if (writer) j["file"] = relative;
            std::printf("%s\n", j.dump().c_str());
        } else {
            std::printf("%-24s %-16s %12lld  %s%s%s\n", engine.ItemName(f).c_str(), category.c_str(),
                        static_cast<long long>(f.length), status, relative.empty() ? "" : "  ", relative.c_str());
        }
        std::fflush(stdout);
    });
    progress.Finish();

    const CarveSummary& s = engine.Summary();
    std::fprintf(stderr, "%s%llu files found", s.stopped ? "stopped: " : "",
                 static_cast<unsigned long long>(s.filesFound));
    if (writer)
        std::fprintf(stderr, ", %llu written, %llu not written", static_cast<unsigned long long>(written),
                     static_cast<unsigned long long>(writer->FilesFailed()));
    std::fprintf(stderr, ", %llu sectors unreadable\n", static_cast<unsigned long long>(s.unreadableSectors));
    if (writer)
        for (const auto& e : writer->Errors()) std::fprintf(stderr, "not written: %s\n", e.c_str());
    bool errors = s.stopped || s.unreadableSectors > 0 || (writer && writer->FilesFailed() > 0);
    return errors ? kExitErrors : kExitOk;
}

}  // namespace

void AddCarveCommand(CLI::App& app, int& exitCode) {
    auto o = std::make_shared<CarveOptions>();
    CLI::App* cmd = app.add_subcommand("carve", "Find files by their signatures, without a file system");
    cmd->add_option("SOURCE", o->source, "Device or image")->required();
    AddVolumeOptions(cmd, o->volume);
    AddMapfileOption(cmd, o->mapfile);
    cmd->add_option("--signatures", o->signatures, "A signature settings file to use besides the defaults");
    cmd->add_flag("--no-defaults", o->noDefaults, "Leave out the default signature list");
    cmd->add_flag("--keep-partial", o->keepPartial, "List starts whose structure does not hold, marked partial");
    cmd->add_option("--out", o->out, "Write the files found into per-category folders here");
    cmd->add_flag("--json", o->json, "One JSON object per line");
    cmd->callback([o, &exitCode] { exitCode = RunCarve(*o); });
}

}  // namespace tarnwell::cli
