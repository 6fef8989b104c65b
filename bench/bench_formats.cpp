// The GIF, PNG and sheet exports of the noise and figure animations against
// ImageMagick's convert writing the same frames (the BMP export's files) in
// the same format, the two taking turns in one loop. Ours is timed in the
// thread's CPU time, convert's as its process's user and system time; each
// case also reports the bytes both sides wrote.
#include "bench_support.h"
#include "common/surfaces.h"
#include "common/checked_bitmap.h"
#include "export/export.h"
#include "gif/gif_anim.h"
#include "gif/gif_compose.h"
#include "palette/global_palette.h"
#include "palette/tint_slots.h"

#include <allegro.h>
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

// The loaded, remapped animation as whole screens, and where both sides write.
struct formats_input {
    gif_anim *anim;
    std::string dir; // bmp/, ours/ and peer/ inside
};

// Bytes of the image files in dir: the sheet's JSON, which convert does
// not write, is left out.
static long long count_image_bytes(const std::string &dir)
{
    long long bytes = 0;
    for (const auto &entry : fs::directory_iterator(dir))
        if (entry.path().extension() != ".json")
            bytes += (long long)entry.file_size();
    return bytes;
}

// convert with these arguments; its CPU seconds, or -1 when it failed.
static double run_convert(const std::vector<std::string> &args)
{
    std::vector<char *> argv;
    static char name[] = "convert";
    argv.push_back(name);
    for (const std::string &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        execvp("convert", argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage = {};
    if (child < 0 || wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        return -1;
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Debian's policy for ImageMagick refuses images wider than 16000 pixels.
constexpr int CONVERT_MAX_SIDE = 16000;

// convert's arguments for the format: the BMP frames in, the same frames
// out in the format; the sheet in rows of as many frames as fit its side
// limit (ours take up to 16384 pixels: 51 figure frames against its 50).
static std::vector<std::string> list_convert_args(const formats_input &in, export_format format)
{
    std::vector<std::string> frames;
    for (int i = 0; i < in.anim->num_frames; i++) {
        char name[32];
        snprintf(name, sizeof name, "/bmp/frame%03i.bmp", i);
        frames.push_back(in.dir + name);
    }
    std::string out = in.dir + "/peer/";
    std::vector<std::string> args;
    if (format == EXPORT_GIF) {
        // Ours loops as the source did; convert leaves its loop block out
        // only for "-loop 1".
        int loops = in.anim->loop_count;
        std::string loop = loops == GIF_NO_LOOP_EXTENSION ? "1" : std::to_string(loops);
        args = {"-delay", std::to_string(in.anim->frames[0].delay), "-loop", loop};
        args.insert(args.end(), frames.begin(), frames.end());
        args.push_back(out + "anim.gif");
        return args;
    }
    if (format == EXPORT_PNG) {
        args = frames;
        args.push_back("PNG8:" + out + "frame%03d.png");
        return args;
    }
    int columns = std::max(1, CONVERT_MAX_SIDE / in.anim->w);
    for (size_t at = 0; at < frames.size(); at += size_t(columns)) {
        args.push_back("(");
        for (size_t k = at; k < std::min(frames.size(), at + size_t(columns)); k++)
            args.push_back(frames[k]);
        args.push_back("+append");
        args.push_back(")");
    }
    args.push_back("-background");
    args.push_back("black");
    args.push_back("-append");
    args.push_back("PNG8:" + out + "sheet.png");
    return args;
}

// Loads and remaps the animation, makes it whole screens, writes its BMP
// export for convert; false on any failure.
static bool build_formats_input(const std::string &path, formats_input &in)
{
    prepare_library();
    fill_bench_glb_palette();
    std::memcpy(working_palette, glb_palette, sizeof working_palette);
    int saved = silence_stdout();
    gif_anim *loaded = load_gif_anim(path.c_str());
    if (loaded)
        remap_pixels(loaded, "bench");
    in.anim = loaded ? coalesce_gif_anim(loaded) : nullptr;
    destroy_gif_anim(loaded);
    restore_stdout(saved);
    if (!in.anim)
        return false;
    glb_sprite_8bpp = create_checked_bitmap(8, in.anim->w, in.anim->h);
    std::string pattern = (access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
    pattern += "/huesmith_bench_formats_XXXXXX";
    if (!glb_sprite_8bpp || !mkdtemp(pattern.data()))
        return false;
    in.dir = pattern;
    fs::create_directories(in.dir + "/peer");
    export_options bmp;
    bmp.dir = in.dir + "/bmp";
    saved = silence_stdout();
    int written = save_all_frames(in.anim, 100, bmp);
    restore_stdout(saved);
    return written == in.anim->num_frames;
}

static void release_formats_input(formats_input &in)
{
    if (!in.dir.empty())
        fs::remove_all(in.dir);
    destroy_gif_anim(in.anim);
    destroy_bitmap(glb_sprite_8bpp);
    glb_sprite_8bpp = nullptr;
}

static void export_format_against_convert(benchmark::State &state, export_format format)
{
    const bench_gif &gif = list_bench_gifs()[size_t(state.range(0))];
    const std::string &path = prepare_case_gif(state, gif);
    formats_input in = {nullptr, ""};
    bool ok = !path.empty() && build_formats_input(path, in);
    export_options options;
    options.dir = in.dir + "/ours";
    options.format = format;
    options.name = gif.name;
    std::vector<std::string> args = ok ? list_convert_args(in, format) : std::vector<std::string>();
    double seconds[2] = {0, 0}; // ours, convert's
    auto run_side = [&](int side) {
        if (side == 1) {
            double spent = run_convert(args);
            ok = ok && spent >= 0;
            seconds[1] += spent;
            return;
        }
        int saved = silence_stdout();
        double start = read_cpu_seconds();
        ok = ok && save_all_frames(in.anim, 100, options) == in.anim->num_frames;
        seconds[0] += read_cpu_seconds() - start;
        restore_stdout(saved);
    };
    int first = 0;
    for (auto _ : state) {
        if (!ok)
            break;
        run_side(first);
        run_side(1 - first);
        first = 1 - first;
    }
    if (ok) {
        state.counters["bytes"] = double(count_image_bytes(options.dir));
        state.counters["peer_bytes"] = double(count_image_bytes(in.dir + "/peer"));
    }
    release_formats_input(in);
    if (!ok) {
        state.SkipWithError("an export or convert failed");
        return;
    }
    double iterations = double(std::max<benchmark::IterationCount>(state.iterations(), 1));
    std::string peer = "convert/" + std::string(name_export_extension(format) + 1) + "/" + gif.name;
    report_paired_times(state, peer, seconds[0] / iterations, seconds[1] / iterations);
}

// Cases 0 and 1 of list_bench_gifs: the noise and the figure.
BENCHMARK_CAPTURE(export_format_against_convert, gif, EXPORT_GIF)
    ->Name("save_all_frames/gif")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(export_format_against_convert, png, EXPORT_PNG)
    ->Name("save_all_frames/png")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(export_format_against_convert, sheet, EXPORT_SHEET)
    ->Name("save_all_frames/sheet")->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
