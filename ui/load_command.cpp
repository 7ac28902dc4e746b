#include "ui/load_command.h"

#include <cstdint>
#include <vector>

#include "image/display_text.h"
#include "image/load_failure.h"
#include "image/module_name.h"
#include "image/read_image.h"
#include "image/summary_text.h"
#include "image/whole_file.h"

namespace {

constexpr ImageFileType kFileTypes[] = {
    {"All Supported Types", "*.shex;*.shx;*.sbin;*.sbn;*.r??"},
    {"Motorola SHEX ( *.shex; *.shx )", "*.shex;*.shx"},
    {"Binary Image ( *.sbin; *.sbn )", "*.sbin;*.sbn"},
    {"EMMA Files (*.rxx)", "*.r??"},
    {"All Files (*.*)", "*.*"},
};

}  // namespace

std::span<const ImageFileType> imageFileTypes() {
    return kFileTypes;
}

void showSummary(Panel& panel, const ImageSummary& summary) {
    const SummaryTexts texts = summaryTexts(summary);
    panel.setFieldText(IDC_FORMAT, texts.format);
    if (summary.versionText) panel.setFieldText(IDC_VERSION, texts.version);
    panel.setFieldText(IDC_CRC, texts.crc);
    panel.setFieldText(IDC_DUMPSIZE, texts.size);
    panel.setFieldText(IDC_FRAMESTOTAL, texts.frames);
}

void loadSoftware(Panel& panel, HeldImage& held, const OpenFileFunction& chooseFile) {
    panel.setStatus("Opening flash image ...");
    const std::optional<std::string> path = chooseFile();
    if (!path) {
        panel.setStatus("Ready");
        return;
    }

    // Read before anything is released: a file that cannot be read whole is reported like one that cannot
    // be opened, and the image held so far stays held.
    std::vector<std::uint8_t> content;
    LoadFailure failure;
    if (!readWholeFile(*path, content, nullptr, &failure)) {
        panel.showDetailedMessage(kCannotOpenText, loadFailureReason(*path, failure), "Error",
                                  MessageIcon::Error);
        panel.setStatus("Ready");
        return;
    }

    held.image.reset();
    panel.clearImageFields();
    panel.setStatus("Loading data ...");
    panel.setFieldText(IDC_MODULE, displayText(moduleName(*path), TextBytes::Utf8OrLatin1));

    ReadResult result = readImage(std::move(content));
    const auto refused = [&] {
        panel.showDetailedMessage(loadFailureText(result.outcome), loadFailureReason(*path, result.failure),
                                  "Error", MessageIcon::Error);
    };
    switch (result.outcome) {
        case ReadOutcome::UnrecognizedFormat:
            refused();
            panel.clearImageFields();
            return;
        case ReadOutcome::CorruptFile:
        case ReadOutcome::OutOfMemory:
            // The image held before is gone already (its memory was needed): no image, empty fields.
            panel.clearImageFields();
            refused();
            return;
        case ReadOutcome::Ok:
            break;
    }

    held.image = std::move(result.image);
    held.summary = result.summary;
    showSummary(panel, result.summary);
    panel.setControlEnabled(IDC_UPDATE, true);
    panel.setStatus("Ready");
    panel.redrawPanel();
}
