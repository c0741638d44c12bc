#include "tools/gifanim_tool.h"

#include <cstdio>
#include <exception>
#include <new>
#include <string_view>

#include "platform/file.h"
#include "platform/text.h"
#include "tools/commands.h"
#include "tools/options.h"

namespace gifanim::tool {

namespace {

constexpr const char* kUsage =
    "usage: gifanim <command> [options]\n"
    "\n"
    "commands:\n"
    "  make -o OUT.gif [--delay CS] [--disposal D] [--no-loop] [--loop-count N]\n"
    "       [--dither] [--interlace] [--comment TEXT] [--reverse] [--jobs N]\n"
    "       [--optimize [--quality Q]] [SHAPE...] IMAGE...\n"
    "      build an animation from image files (BMP, JPEG, PNG, GIF), one frame each\n"
    "  info FILE.gif\n"
    "      print the settings of the animation and of every frame\n"
    "  extract FILE.gif N OUT.bmp\n"
    "      write frame N as a BMP file (N = 0: the whole GIF)\n"
    "  set FILE.gif -o OUT.gif [--frame N] [--delay CS] [--left X] [--top Y] [--disposal D]\n"
    "      [--transparency 0|1] [--width W] [--height H] [--bg I] [--loop-count N]\n"
    "      [--palette FRAME:INDEX=RRGGBB]...\n"
    "      change settings and colours in place and save the result\n"
    "  convert --format bmp|jpeg|gif|tiff|png IN OUT\n"
    "      re-encode an image file in another format\n"
    "  grab --rect LEFT,TOP,RIGHT,BOTTOM [--cursor] [--format bmp|jpeg|gif|tiff|png] OUT\n"
    "      save a rectangle of the screen (default format bmp)\n"
    "  record -o OUT.gif [--rect LEFT,TOP,RIGHT,BOTTOM | --full-screen | --select] [--fps N]\n"
    "         [--seconds S | --frames N] [--cursor] [--show-clicks] [--memory MB | --disk] [--reverse]\n"
    "         [--optimize [--quality Q]] [SHAPE...]\n"
    "      record the screen into an animated GIF (until Ctrl+C without --seconds or --frames)\n"
    "  recover [FILE -o OUT.gif [--reverse] [--optimize [--quality Q]] [SHAPE...] [--keep]]\n"
    "      list the recordings left behind by recorders that ended unexpectedly, or write one out\n"
    "\n"
    "  SHAPE: --scale W|WxH|P%  --crop L,T,R,B  --speed F  --max-fps N  --max-size SIZE  --estimate\n"
    "\n"
    "  COMMAND --help  show the options of a command\n"
    "  --help          show this text\n";

#define OPTIMIZE_HELP                                                                             \
    "  --optimize        store only what changed, with colour tables made from the frames' own\n" \
    "                    pixels: a much smaller GIF that shows every frame within a bound\n"      \
    "  --quality Q       how close the optimized GIF stays to the frames (1..100, default 80;\n"  \
    "                    100 redraws every pixel that changed at all)\n"

#define SHAPE_HELP                                                                                 \
    "  --scale W|WxH|P%  scale to a width, into a box or by a percentage, keeping the aspect ratio\n" \
    "                    (each pixel the mean of the area it covers)\n"                          \
    "  --crop L,T,R,B    only this rectangle of the frames (cut to them)\n"                      \
    "  --speed F         every delay divided by F (0.01..100); no delay under 2 hundredths\n"   \
    "  --max-fps N       no frame shown for less than 1/N s (1..100); the total time stays\n"   \
    "  --max-size SIZE   never larger than SIZE (bytes, or with KB, MB, KiB, MiB; MB = 10^6):\n" \
    "                    quality, then frame rate, then scale are given up as far as needed,\n" \
    "                    and one line says what was done; exit 1 when even that cannot fit\n"  \
    "  --estimate        print \"estimate: N bytes\" for the GIF these options write; write nothing\n"

// A command is its run_ function in a file of its own, declared in tools/commands.h, and an entry
// below with the usage text that --help and usage errors print.
struct Command {
    std::string_view name;
    int (*run)(const std::vector<Argument>& args);
    const char* usage;
};

constexpr Command kCommands[] = {
    {"make", run_make,
     "usage: gifanim make -o OUT.gif [--delay CS] [--disposal D] [--no-loop] [--loop-count N]\n"
     "                    [--dither] [--interlace] [--comment TEXT] [--reverse] [--jobs N]\n"
     "                    [--optimize [--quality Q]] [SHAPE...] IMAGE...\n"
     "  --delay CS        frame delay in 1/100 s (0..65535, default 60)\n"
     "  --disposal D      disposal method (0..7, default 0)\n"
     "  --no-loop         no looping extension\n"
     "  --loop-count N    repetitions, 0 = endless (0..65535, default 0)\n"
     "  --dither          ordered dither instead of a per-frame palette\n"
     "  --interlace       interlaced rows\n"
     "  --comment TEXT    comment of the animation\n"
     "  --reverse         add the images last to first\n"
     "  --jobs N          threads that reduce and compress frames (default: one per core);\n"
     "                    the GIF is the same for every N\n" OPTIMIZE_HELP SHAPE_HELP},
    {"info", run_info,
     "usage: gifanim info FILE.gif\n"
     "  prints one line for the animation and one per frame, as key=value pairs:\n"
     "  animation width= height= loop= loop_count= bg= frames= colors= comment=\n"
     "  frame N delay= left= top= width= height= disposal= transparency= transparent_index= colors= comment=\n"
     "  colors is the size of the global or local colour table, 0 when there is none\n"},
    {"extract", run_extract,
     "usage: gifanim extract FILE.gif N OUT.bmp\n"
     "  writes frame N (from 1) as a BMP file; N = 0 writes the whole GIF\n"},
    {"set", run_set,
     "usage: gifanim set FILE.gif -o OUT.gif [options]\n"
     "  animation:\n"
     "  --width W, --height H   logical screen size (0..65535)\n"
     "  --bg I                  background colour index (0..255)\n"
     "  --loop-count N          repetitions, 0 = endless (0..65535); the GIF must loop already\n"
     "  frame (frame 1 unless --frame N is given):\n"
     "  --frame N               the frame to change (from 1)\n"
     "  --delay CS              delay in 1/100 s (0..65535)\n"
     "  --left X, --top Y       position on the screen (0..65535)\n"
     "  --disposal D            disposal method (0..7)\n"
     "  --transparency 0|1      transparent colour on or off\n"
     "  (delay, disposal and transparency change only in a frame with a graphic control extension)\n"
     "  colours (repeatable):\n"
     "  --palette FRAME:INDEX=RRGGBB   colour INDEX of frame FRAME's table (0 = the global table)\n"},
    {"convert", run_convert,
     "usage: gifanim convert --format bmp|jpeg|gif|tiff|png IN OUT\n"
     "  re-encodes the image file IN (BMP, JPEG, GIF, TIFF or PNG) as OUT\n"},
    {"grab", run_grab,
     "usage: gifanim grab --rect LEFT,TOP,RIGHT,BOTTOM [--cursor] [--format bmp|jpeg|gif|tiff|png] OUT\n"
     "  saves the screen pixels of the rectangle, with the mouse cursor drawn in when --cursor is given\n"},
    {"record", run_record,
     "usage: gifanim record -o OUT.gif [--rect LEFT,TOP,RIGHT,BOTTOM | --full-screen | --select] [--fps N]\n"
     "                      [--seconds S | --frames N] [--cursor] [--show-clicks] [--memory MB | --disk]\n"
     "                      [--reverse]\n"
     "                      [--optimize [--quality Q]] [SHAPE...]\n"
     "  records the screen into a looping GIF; without --seconds or --frames until Ctrl+C\n"
     "  --rect L,T,R,B    the rectangle to record (default: the whole screen)\n"
     "  --full-screen     the whole screen\n"
     "  --select          drag a rectangle with the mouse, or click a window for its rectangle\n"
     "                    (Escape: exit 1); X11 only\n"
     "  --fps N           grabs per second (1..1000, default 10); each frame waits trunc(100 / N)\n"
     "                    hundredths of a second, longer where the screen stood still\n"
     "  --seconds S       stop after S seconds (decimals allowed)\n"
     "  --frames N        stop after N grabs (still periods merge, so the GIF may hold fewer frames)\n"
     "  --cursor          draw the mouse cursor into the frames\n"
     "  --show-clicks     a ring around the pointer while a mouse button is down (left and right\n"
     "                    in two colours)\n"
     "  SIGUSR1 pauses the recording and resumes it; the time paused is in no delay\n"
     "  --memory MB       keep frames in memory up to MB megabytes, then on disk (default 20)\n"
     "  --disk            keep every frame on disk\n"
     "  --reverse         write the frames last to first\n" OPTIMIZE_HELP SHAPE_HELP
     "  prints one line at the end: OUT.gif: N frames, S s, B bytes (grabs, collapsed ticks, CPU share)\n"
     "  the recording is kept in a file in the temporary folder until the GIF holds it: killed, or\n"
     "  when the GIF cannot be written, it stays there for gifanim recover\n"},
    {"recover", run_recover,
     "usage: gifanim recover\n"
     "       gifanim recover FILE -o OUT.gif [--reverse] [--optimize [--quality Q]] [SHAPE...] [--keep]\n"
     "  without FILE, lists the recordings that recorder processes left in the temporary folder\n"
     "  ($TMPDIR or /tmp) when they ended without writing them out, one a line:\n"
     "  FILE<tab>N frames, S s, WxH\n"
     "  with FILE, writes that recording as a looping GIF and then removes FILE\n"
     "  --reverse         write the frames last to first\n" OPTIMIZE_HELP SHAPE_HELP
     "  --keep            keep FILE after the GIF is written\n"},
};

int usage_error(const char* usage, const std::string& message) {
    platform::write_stderr(error_line(message) + usage);
    return 2;
}

int dispatch(const std::vector<Argument>& args) {
    if (args.empty() || args[0].text == "--help" || args[0].text == "-h" || args[0].text == "help") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    for (const Command& command : kCommands) {
        if (args[0].text != command.name) continue;
        try {
            return command.run(args);
        } catch (const HelpRequested&) {
            std::fputs(command.usage, stdout);
            return 0;
        } catch (const UsageError& e) {
            return usage_error(command.usage, e.message);
        }
    }
    return usage_error(kUsage, "unknown command " + args[0].text);
}

}  // namespace

int run(const std::vector<Argument>& args) {
    // Every command reports its own failures; whatever still escapes one (memory running out
    // where nothing expected it, a file error between the lines) ends as a failure with a message,
    // never as a signal.
    try {
        try {
            return dispatch(args);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const platform::FileError& e) {
            platform::write_stderr("gifanim: " + e.text + "\n");
        } catch (const std::exception& e) {
            platform::write_stderr(std::string("gifanim: ") + e.what() + "\n");
        } catch (...) {
            platform::write_stderr("gifanim: unexpected failure\n");
        }
    } catch (...) {
        // Memory ran out, perhaps again while a message above was put together: this one needs none.
        std::fputs("gifanim: out of memory\n", stderr);
    }
    return 1;
}

}  // namespace gifanim::tool
