/* Prints what giflib decodes from a GIF, one line per frame, for scripts to judge:
 *   delay width height screen_width screen_height checksum r,g,b ...
 * The checksum and the r,g,b samples (at the x,y points given after the file name) are taken from
 * the canvas as it looks once the frame is drawn over the frames before it (transparency and
 * disposal applied), so two files that show the same pictures agree whatever their encoding.
 *   gif_frames FILE.gif [X,Y ...]
 */
#include <gif_lib.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
    const int width = gif->SWidth, height = gif->SHeight;
    uint8_t* canvas = calloc((size_t)width * height, 3);
    uint8_t* saved = calloc((size_t)width * height, 3);
    if (!canvas || !saved) return 1;
    for (int i = 0; i < gif->ImageCount; ++i) {
        const SavedImage* image = &gif->SavedImages[i];
        const GifImageDesc* d = &image->ImageDesc;
        const ColorMapObject* map = d->ColorMap ? d->ColorMap : gif->SColorMap;
        GraphicsControlBlock gcb = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
        DGifSavedExtensionToGCB(gif, i, &gcb);
        if (!map) {
            fprintf(stderr, "gif_frames: frame %d has no palette\n", i + 1);
            return 1;
        }
        if (gcb.DisposalMode == DISPOSE_PREVIOUS) memcpy(saved, canvas, (size_t)width * height * 3);
        for (int y = 0; y < d->Height; ++y) {
            for (int x = 0; x < d->Width; ++x) {
                const int cx = d->Left + x, cy = d->Top + y;
                const int index = image->RasterBits[(size_t)y * d->Width + x];
                if (cx >= width || cy >= height || index == gcb.TransparentColor || index >= map->ColorCount) continue;
                uint8_t* p = canvas + ((size_t)cy * width + cx) * 3;
                p[0] = map->Colors[index].Red;
                p[1] = map->Colors[index].Green;
                p[2] = map->Colors[index].Blue;
            }
        }
        uint64_t sum = 1469598103934665603ull; /* FNV-1a over the canvas */
        for (size_t k = 0; k < (size_t)width * height * 3; ++k) sum = (sum ^ canvas[k]) * 1099511628211ull;
        printf("%d %d %d %d %d %016llx", gcb.DelayTime, d->Width, d->Height, width, height, (unsigned long long)sum);
        for (int a = 2; a < argc; ++a) {
            int x = 0, y = 0;
            if (sscanf(argv[a], "%d,%d", &x, &y) != 2 || x < 0 || y < 0 || x >= width || y >= height) {
                printf(" -");
                continue;
            }
            const uint8_t* p = canvas + ((size_t)y * width + x) * 3;
            printf(" %d,%d,%d", p[0], p[1], p[2]);
        }
        printf("\n");
        if (gcb.DisposalMode == DISPOSE_BACKGROUND && d->Left < width) {
            const int w = d->Left + d->Width <= width ? d->Width : width - d->Left;
            for (int y = d->Top; y < d->Top + d->Height && y < height; ++y)
                memset(canvas + ((size_t)y * width + d->Left) * 3, 0, (size_t)w * 3);
        } else if (gcb.DisposalMode == DISPOSE_PREVIOUS) {
            memcpy(canvas, saved, (size_t)width * height * 3);
        }
    }
    free(canvas);
    free(saved);
    DGifCloseFile(gif, &error);
    return 0;
}
