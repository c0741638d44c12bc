/* The picture a viewer shows while it plays a GIF that giflib has read: frames drawn one after
 * another over a canvas of the logical screen's size, black at the start, each frame's transparent
 * pixels leaving what is beneath, and each frame disposed of as its graphic control block says
 * just before the next one is drawn (to black for "background", to the canvas as it was before the
 * frame for "previous"). Shared by the small giflib programs that judge the recorder's GIFs.
 */
#pragma once
#include <gif_lib.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

typedef struct {
    int width, height;
    uint8_t* pixels; /* width * height RGB triples, rows top to bottom */
    uint8_t* saved;  /* the canvas before the last frame, while it is to be disposed of to it */
    int last;        /* the frame drawn last, -1 before the first */
    GraphicsControlBlock last_gcb;
} GifCanvas;

static inline GraphicsControlBlock gif_canvas_gcb(GifFileType* gif, int frame) {
    GraphicsControlBlock gcb = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    DGifSavedExtensionToGCB(gif, frame, &gcb);
    return gcb;
}

/* 0, or -1 when there is no memory. */
static inline int gif_canvas_open(GifCanvas* canvas, const GifFileType* gif) {
    canvas->width = gif->SWidth;
    canvas->height = gif->SHeight;
    canvas->pixels = calloc((size_t)canvas->width * canvas->height + 1, 3);
    canvas->saved = calloc((size_t)canvas->width * canvas->height + 1, 3);
    canvas->last = -1;
    canvas->last_gcb = (GraphicsControlBlock){DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    return canvas->pixels && canvas->saved ? 0 : -1;
}

static inline void gif_canvas_free(GifCanvas* canvas) {
    free(canvas->pixels);
    free(canvas->saved);
    canvas->pixels = canvas->saved = NULL;
}

/* Disposes of the frame drawn last and draws `frame` over the canvas. 0, or -1 when the frame has
 * no colour table. */
static inline int gif_canvas_draw(GifCanvas* canvas, GifFileType* gif, int frame) {
    const int width = canvas->width, height = canvas->height;
    const size_t bytes = (size_t)width * height * 3;
    if (canvas->last >= 0) {
        const GifImageDesc* d = &gif->SavedImages[canvas->last].ImageDesc;
        if (canvas->last_gcb.DisposalMode == DISPOSE_BACKGROUND && d->Left < width) {
            const int w = d->Left + d->Width <= width ? d->Width : width - d->Left;
            for (int y = d->Top; y < d->Top + d->Height && y < height; ++y)
                memset(canvas->pixels + ((size_t)y * width + d->Left) * 3, 0, (size_t)w * 3);
        } else if (canvas->last_gcb.DisposalMode == DISPOSE_PREVIOUS) {
            memcpy(canvas->pixels, canvas->saved, bytes);
        }
    }
    const SavedImage* image = &gif->SavedImages[frame];
    const GifImageDesc* d = &image->ImageDesc;
    const ColorMapObject* map = d->ColorMap ? d->ColorMap : gif->SColorMap;
    const GraphicsControlBlock gcb = gif_canvas_gcb(gif, frame);
    if (!map) return -1;
    if (gcb.DisposalMode == DISPOSE_PREVIOUS) memcpy(canvas->saved, canvas->pixels, bytes);
    for (int y = 0; y < d->Height; ++y) {
        for (int x = 0; x < d->Width; ++x) {
            const int cx = d->Left + x, cy = d->Top + y;
            const int index = image->RasterBits[(size_t)y * d->Width + x];
            if (cx >= width || cy >= height || index == gcb.TransparentColor || index >= map->ColorCount) continue;
            uint8_t* p = canvas->pixels + ((size_t)cy * width + cx) * 3;
            p[0] = map->Colors[index].Red;
            p[1] = map->Colors[index].Green;
            p[2] = map->Colors[index].Blue;
        }
    }
    canvas->last = frame;
    canvas->last_gcb = gcb;
    return 0;
}
