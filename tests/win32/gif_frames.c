/* Prints what giflib decodes from a GIF, one line per frame, for scripts to judge:
 *   delay width height screen_width screen_height checksum r,g,b ...
 * The checksum and the r,g,b samples (at the x,y points given after the file name) are taken from
 * the canvas as it looks once the frame is drawn over the frames before it (transparency and
 * disposal applied), so two files that show the same pictures agree whatever their encoding.
 *   gif_frames FILE.gif [X,Y ...]
 */
#include <stdint.h>
#include <stdio.h>

#include "gif_canvas.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: gif_frames FILE.gif [X,Y ...]\n");
        return 2;
    }
    int error = 0;
    GifFileType* gif = DGifOpenFileName(argv[1], &error);
    if (!gif || DGifSlurp(gif) != GIF_OK) {
        fprintf(stderr, "gif_frames: %s: %s\n", argv[1], GifErrorString(gif ? gif->Error : error));
        return 1;
    }
    GifCanvas canvas;
    if (gif_canvas_open(&canvas, gif) != 0) return 1;
    const int width = canvas.width, height = canvas.height;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const GifImageDesc* d = &gif->SavedImages[i].ImageDesc;
        if (gif_canvas_draw(&canvas, gif, i) != 0) {
            fprintf(stderr, "gif_frames: frame %d has no palette\n", i + 1);
            return 1;
        }
        uint64_t sum = 1469598103934665603ull; /* FNV-1a over the canvas */
        for (size_t k = 0; k < (size_t)width * height * 3; ++k) sum = (sum ^ canvas.pixels[k]) * 1099511628211ull;
        printf("%d %d %d %d %d %016llx", canvas.last_gcb.DelayTime, d->Width, d->Height, width, height,
               (unsigned long long)sum);
        for (int a = 2; a < argc; ++a) {
            int x = 0, y = 0;
            if (sscanf(argv[a], "%d,%d", &x, &y) != 2 || x < 0 || y < 0 || x >= width || y >= height) {
                printf(" -");
                continue;
            }
            const uint8_t* p = canvas.pixels + ((size_t)y * width + x) * 3;
            printf(" %d,%d,%d", p[0], p[1], p[2]);
        }
        printf("\n");
    }
    gif_canvas_free(&canvas);
    DGifCloseFile(gif, &error);
    return 0;
}
