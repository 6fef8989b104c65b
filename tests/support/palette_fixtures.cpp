#include "support/palette_fixtures.h"

#include "gif/checked_bitmap.h"
#include "gif/gif_anim.h"

#include <allegro.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <ftw.h>
#include <sys/wait.h>
#include <unistd.h>

void init_palette_test_library()
{
    static bool installed = false;
    if (!installed) {
        install_allegro(SYSTEM_NONE, &errno, atexit);
        installed = true;
    }
    set_color_depth(32);
}

std::string enter_fresh_dir()
{
    char path[] = "/tmp/huesmith_palette_XXXXXX";
    if (!mkdtemp(path) || chdir(path) != 0)
        return "";
    return path;
}

static int remove_entry(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

void leave_fresh_dir(const std::string &path)
{
    if (path.empty() || chdir("/tmp") != 0)
        return;
    nftw(path.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

gif_anim *make_test_anim(int num_frames, int num_palettes, int w, int h)
{
    gif_anim *anim = static_cast<gif_anim *>(calloc(1, sizeof(gif_anim)));
    anim->num_frames = num_frames;
    anim->num_palettes = num_palettes;
    anim->w = w;
    anim->h = h;
    if (num_frames > 0)
        anim->frames = static_cast<gif_frame *>(calloc(num_frames, sizeof(gif_frame)));
    anim->palettes = static_cast<uint8_t *>(calloc(num_palettes > 0 ? num_palettes : 1,
                                                   GIF_PALETTE_BYTES));
    for (int i = 0; i < num_frames; i++) {
        gif_frame &frame = anim->frames[i];
        frame.w = uint16_t(w);
        frame.h = uint16_t(h);
        frame.trans = -1;
        frame.bmp = create_checked_bitmap(8, w, h);
        if (frame.bmp)
            clear_bitmap(frame.bmp);
    }
    return anim;
}

void free_test_anim(gif_anim *anim)
{
    for (int i = 0; i < anim->num_frames; i++)
        if (anim->frames[i].bmp)
            destroy_bitmap(anim->frames[i].bmp);
    free(anim->frames);
    free(anim->palettes);
    free(anim);
}

child_run run_in_child(const std::function<void()> &body)
{
    char path[] = "/tmp/huesmith_child_out_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return {-1, ""};
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 1);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(fd);
    int raw = 0;
    child_run run{-1, ""};
    if (pid > 0 && waitpid(pid, &raw, 0) == pid && WIFEXITED(raw))
        run.status = WEXITSTATUS(raw);
    std::vector<uint8_t> bytes = read_bytes(path);
    run.output.assign(bytes.begin(), bytes.end());
    unlink(path);
    return run;
}

bool write_bytes(const std::string &path, const std::vector<uint8_t> &bytes)
{
    FILE *out = fopen(path.c_str(), "wb");
    if (!out)
        return false;
    bool ok = bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return fclose(out) == 0 && ok;
}

std::vector<uint8_t> read_bytes(const std::string &path)
{
    std::vector<uint8_t> bytes;
    FILE *in = fopen(path.c_str(), "rb");
    if (!in)
        return bytes;
    int c;
    while ((c = fgetc(in)) != EOF)
        bytes.push_back(uint8_t(c));
    fclose(in);
    return bytes;
}

bool write_rgb_bmp(const std::string &path, int w, int h,
                   const std::function<uint32_t(int, int)> &rgb)
{
    BITMAP *bmp = create_checked_bitmap(24, w, h);
    if (!bmp)
        return false;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            uint32_t c = rgb(x, y);
            putpixel(bmp, x, y, makecol_depth(24, (c >> 16) & 255, (c >> 8) & 255, c & 255));
        }
    PALETTE unused = {};
    bool ok = save_bmp(path.c_str(), bmp, unused) == 0;
    destroy_bitmap(bmp);
    return ok;
}

bool same_area(BITMAP *a, BITMAP *b, int x, int y, int w, int h)
{
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++)
            if (getpixel(a, i, j) != getpixel(b, i, j))
                return false;
    return true;
}
