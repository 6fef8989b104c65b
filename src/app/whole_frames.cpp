// -coalesce and C: the animation as whole screens beside the one loaded.
#include "app/app.h"

#include <cstdio>

#include "gif/gif_anim.h"
#include "gif/gif_compose.h"

coalesce_state glb_coalesce;

gif_anim *choose_shown_anim(gif_anim *loaded)
{
    return glb_coalesce.on && glb_coalesce.whole ? glb_coalesce.whole : loaded;
}

bool set_coalesce(const gif_anim *loaded, bool on)
{
    if (on && !glb_coalesce.whole)
        glb_coalesce.whole = coalesce_gif_anim(loaded);
    glb_coalesce.on = on && glb_coalesce.whole;
    return glb_coalesce.on == on;
}

void hint_coalesce(const gif_anim *anim)
{
    static bool hinted = false;
    if (hinted || glb_coalesce.on || !detect_partial_frames(anim))
        return;
    hinted = true;
    std::fprintf(stderr, "hint : some frames are drawn over earlier ones and show alone; "
                         "-coalesce (or C in the window) shows them whole\n");
}
