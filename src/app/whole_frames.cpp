// -coalesce and C: the animation as whole screens beside the one loaded.
#include "app/app.h"

#include <cstdio>

#include "gif/gif_anim.h"
#include "gif/gif_compose.h"

// Whether the whole screens are shown and exported, and the loaded
// animation as whole screens, made when first asked for.
struct coalesce_state {
    bool on;
    gif_anim *whole;
};
static coalesce_state coalesce;

gif_anim *choose_shown_anim(gif_anim *loaded)
{
    return coalesce.on && coalesce.whole ? coalesce.whole : loaded;
}

bool set_coalesce(const gif_anim *loaded, bool on)
{
    if (on && !coalesce.whole)
        coalesce.whole = coalesce_gif_anim(loaded);
    coalesce.on = on && coalesce.whole;
    return coalesce.on == on;
}

bool is_coalesce_on()
{
    return coalesce.on;
}

void destroy_whole_frames()
{
    destroy_gif_anim(coalesce.whole);
    coalesce = coalesce_state{};
}

void hint_coalesce(const gif_anim *anim)
{
    if (coalesce.on || !detect_partial_frames(anim))
        return;
    std::fprintf(stderr, "hint : some frames are drawn over earlier ones and show alone; "
                         "-coalesce (or C in the window) shows them whole\n");
}
