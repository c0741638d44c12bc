#include "review/fitted_export.h"

#include <exception>
#include <filesystem>
#include <string>

#include "review/size_fit.h"

namespace gifanim::review {

int ExportFittedFrames(const capture::FrameStoreSnapshot& frames, ExportDirection direction, const ExportShape& shape,
                       const Optimization& optimization, std::uint64_t limit_bytes, ExportShell& shell) {
    const std::filesystem::path path = shell.AskSavePath();
    if (path.empty()) return 0;
    BusyWindows busy(shell);
    shell.ShowProgressWindow();
    shell.EnableFrameWindow(false);
    const FitResult fit = FitUnder(source_of(frames), direction, shape, optimization, limit_bytes, path);
    shell.SetFrameWindowCaption("当前帧数:" + std::to_string(frames.count()));
    busy.end();
    if (fit.met) {
        shell.ShowMessage(kExportSucceededText, kExportTitle, kInformationIcon);
        return 1;
    }
    shell.ShowMessage(kExportFailedText, kExportTitle, kErrorIcon);
    return 0;
}

}  // namespace gifanim::review
