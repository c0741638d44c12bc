/* Plays two GIFs side by side as a viewer would (see gif_canvas.h) and prints, at every moment
 * where either shows a new frame, how far apart the two pictures shown are, then a summary:
 *   moment CS FRAME_A FRAME_B LARGEST X,Y OVER
 *   total CS_A CS_B frames N_A N_B pixels PIXELS largest LARGEST at CS over OVER at CS
 * CS is in 1/100 s from the start and frames count from 1. LARGEST is the largest difference of one
 * colour channel of one pixel, X,Y the first pixel that differs by that much, and OVER the number
 * of pixels with a channel that differs by more than BOUND (default 24); the summary gives the
 * total delays, the frame counts, the pixels of the screen and the worst moments. Two files that
 * show the same animation agree however differently they are encoded: frames merged, cut to the
 * pixels that change, or given other palettes, disposals and transparency.
 *   gif_compare A.gif B.gif [BOUND]
 */
#include <stdio.h>

#include "gif_canvas.h"

typedef struct {
    GifFileType* gif;
    GifCanvas canvas;
    long* starts; /* starts[i]: when frame i is drawn; starts[ImageCount]: the total delay */
    int next;     /* the next frame to draw */
} Player;

static int player_open(Player* player, const char* path) {
    int error = 0;
    player->gif = DGifOpenFileName(path, &error);
    if (!player->gif || DGifSlurp(player->gif) != GIF_OK) {
        fprintf(stderr, "gif_compare: %s: %s\n", path, GifErrorString(player->gif ? player->gif->Error : error));
        return -1;
    }
    if (player->gif->ImageCount < 1) {
        fprintf(stderr, "gif_compare: %s has no frames\n", path);
        return -1;
    }
    const int n = player->gif->ImageCount;
    player->starts = calloc((size_t)n + 1, sizeof *player->starts);
    if (!player->starts || gif_canvas_open(&player->canvas, player->gif) != 0) return -1;
    for (int i = 0; i < n; ++i) player->starts[i + 1] = player->starts[i] + gif_canvas_gcb(player->gif, i).DelayTime;
    player->next = 0;
    return 0;
}

/* Draws every frame due by `moment`. */
static int player_advance(Player* player, long moment, const char* path) {
    while (player->next < player->gif->ImageCount && player->starts[player->next] <= moment) {
        if (gif_canvas_draw(&player->canvas, player->gif, player->next) != 0) {
            fprintf(stderr, "gif_compare: %s: frame %d has no palette\n", path, player->next + 1);
            return -1;
        }
        ++player->next;
    }
    return 0;
}

/* The earliest start of a frame not yet drawn, or -1. */
static long player_next_moment(const Player* player) {
    return player->next < player->gif->ImageCount ? player->starts[player->next] : -1;
}

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        fprintf(stderr, "usage: gif_compare A.gif B.gif [BOUND]\n");
        return 2;
    }
    const int bound = argc == 4 ? atoi(argv[3]) : 24;
    Player a, b;
    if (player_open(&a, argv[1]) != 0 || player_open(&b, argv[2]) != 0) return 1;
    if (a.canvas.width != b.canvas.width || a.canvas.height != b.canvas.height) {
        fprintf(stderr, "gif_compare: screens of %dx%d and %dx%d\n", a.canvas.width, a.canvas.height, b.canvas.width,
                b.canvas.height);
        return 1;
    }
    const size_t bytes = (size_t)a.canvas.width * a.canvas.height * 3;
    int largest = 0;
    long largest_at = 0, most_over = 0, most_over_at = 0;
    for (long moment = 0; moment >= 0;) {
        if (player_advance(&a, moment, argv[1]) != 0 || player_advance(&b, moment, argv[2]) != 0) return 1;
        int difference = 0;
        size_t where = 0;
        long over = 0;
        for (size_t k = 0; k < bytes; k += 3) {
            int d = 0;
            for (int c = 0; c < 3; ++c) {
                const int dc = abs(a.canvas.pixels[k + c] - b.canvas.pixels[k + c]);
                if (dc > d) d = dc;
            }
            if (d > difference) difference = d, where = k / 3;
            if (d > bound) ++over;
        }
        printf("moment %ld %d %d %d %d,%d %ld\n", moment, a.canvas.last + 1, b.canvas.last + 1, difference,
               (int)(where % (size_t)a.canvas.width), (int)(where / (size_t)a.canvas.width), over);
        if (difference > largest) largest = difference, largest_at = moment;
        if (over > most_over) most_over = over, most_over_at = moment;
        const long next_a = player_next_moment(&a), next_b = player_next_moment(&b);
        moment = next_a < 0 ? next_b : next_b < 0 ? next_a : next_a < next_b ? next_a : next_b;
    }
    printf("total %ld %ld frames %d %d pixels %zu largest %d at %ld over %ld at %ld\n", a.starts[a.gif->ImageCount],
           b.starts[b.gif->ImageCount], a.gif->ImageCount, b.gif->ImageCount, bytes / 3, largest, largest_at, most_over,
           most_over_at);
    int error = 0;
    gif_canvas_free(&a.canvas);
    gif_canvas_free(&b.canvas);
    free(a.starts);
    free(b.starts);
    DGifCloseFile(a.gif, &error);
    DGifCloseFile(b.gif, &error);
    return 0;
}
