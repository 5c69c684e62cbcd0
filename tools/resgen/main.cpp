// varn-resgen: writes the radar bitmaps, the icons and the main dialog that
// the Windows resource script includes, and on request one radar frame as a
// PNG.
//
//   varn-resgen <outdir>              radar115.bmp ... radar130.bmp,
//                                     icon105.ico, icon108.ico, dialog107.rc
//   varn-resgen --png <file> <frame>  display frame 1..16 as a PNG
//
// Exit status 0 on success; otherwise one line on standard error and 1
// (cannot write) or 2 (bad arguments).
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "shell/art/radar_art.h"
#include "shell/art/resource_encoding.h"
#include "tools/resgen/dialog_script.h"

namespace {

constexpr int kExitCannotWrite = 1;
constexpr int kExitUsage = 2;
constexpr const char* kUsage =
    "usage: varn-resgen <outdir> | varn-resgen --png <file> <frame 1-16>";

int fail(int status, const std::string& message)
{
    std::fprintf(stderr, "varn-resgen: %s\n", message.c_str());
    return status;
}

bool writeFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file)
        return false;
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    file.close();
    return !file.fail();
}

// A whole decimal number from 1 to 16, nothing else.
bool parseFrame(const std::string& text, int& frame)
{
    if (text.empty() || text.size() > 2)
        return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > kiv::kRadarFrameCount)
        return false;
    frame = value;
    return true;
}

int writeResources(const std::filesystem::path& outdir)
{
    std::error_code error;
    std::filesystem::create_directories(outdir, error);
    if (error)
        return fail(kExitCannotWrite, "cannot create " + outdir.string() + ": " + error.message());

    for (int id = kiv::kRadarFirstBitmapId; id <= kiv::kRadarLastBitmapId; ++id) {
        const kiv::Image frame = kiv::renderRadarFrame(kiv::radarFrameForBitmapId(id));
        const std::filesystem::path path = outdir / ("radar" + std::to_string(id) + ".bmp");
        if (!writeFile(path, kiv::encodeBmp32(frame)))
            return fail(kExitCannotWrite, "cannot write " + path.string());
    }
    for (int group : {kiv::kIconGroupMain, kiv::kIconGroupIdle}) {
        const std::vector<std::uint8_t> icon =
            kiv::encodeIco(kiv::renderIcon(group, kiv::kIconSmallSize),
                           kiv::renderIcon(group, kiv::kIconLargeSize));
        const std::filesystem::path path = outdir / ("icon" + std::to_string(group) + ".ico");
        if (!writeFile(path, icon))
            return fail(kExitCannotWrite, "cannot write " + path.string());
    }
    const std::string dialog = kiv::mainDialogScript();
    const std::filesystem::path dialogPath = outdir / "dialog107.rc";
    if (!writeFile(dialogPath, std::vector<std::uint8_t>(dialog.begin(), dialog.end())))
        return fail(kExitCannotWrite, "cannot write " + dialogPath.string());
    return 0;
}

int writePng(const std::filesystem::path& path, int frame)
{
    if (!writeFile(path, kiv::encodePng(kiv::renderRadarFrame(frame))))
        return fail(kExitCannotWrite, "cannot write " + path.string());
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        const std::vector<std::string> args(argv + 1, argv + argc);
        if (args.size() == 1 && !args[0].empty() && args[0][0] != '-')
            return writeResources(args[0]);
        if (args.size() == 3 && args[0] == "--png") {
            int frame = 0;
            if (!parseFrame(args[2], frame))
                return fail(kExitUsage, "frame must be a number from 1 to 16, not '" + args[2] + "'");
            return writePng(args[1], frame);
        }
        return fail(kExitUsage, kUsage);
    } catch (const std::exception& e) {
        return fail(kExitCannotWrite, e.what());
    }
}
