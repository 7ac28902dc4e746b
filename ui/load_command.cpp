#include "ui/load_command.h"

#include <cstdint>
#include <cstdio>
#include <vector>

#include "image/module_name.h"
#include "image/read_image.h"
#include "image/whole_file.h"

namespace {

constexpr ImageFileType kFileTypes[] = {
    {"All Supported Types", "*.shex;*.shx;*.sbin;*.sbn;*.r??"},
    {"Motorola SHEX ( *.shex; *.shx )", "*.shex;*.shx"},
    {"Binary Image ( *.sbin; *.sbn )", "*.sbin;*.sbn"},
    {"EMMA Files (*.rxx)", "*.r??"},
    {"All Files (*.*)", "*.*"},
};

std::string decimal(long long value) {
    char text[32];
    std::snprintf(text, sizeof text, "%lld", value);
    return text;
}

}  // namespace

std::span<const ImageFileType> imageFileTypes() {
    return kFileTypes;
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
    if (!readWholeFile(*path, content)) {
        panel.showMessage("Unable to open flash image", "Error", MessageIcon::Error);
        panel.setStatus("Ready");
        return;
    }

    held.image.reset();
    panel.clearImageFields();
    panel.setStatus("Loading data ...");
    panel.setFieldText(IDC_MODULE, moduleName(*path));

    ReadResult result = readImage(std::move(content));
    switch (result.outcome) {
        case ReadOutcome::UnrecognizedFormat:
            panel.showMessage("Unrecognized flash image format", "Error", MessageIcon::Error);
            panel.clearImageFields();
            return;
        case ReadOutcome::CorruptFile:
            panel.clearImageFields();
            panel.showMessage("File is corrupt or unknown format", "Error", MessageIcon::Error);
            return;
        case ReadOutcome::Ok:
            break;
    }

    held.image = std::move(result.image);
    held.summary = result.summary;
    panel.setFieldText(IDC_FORMAT, formatName(result.summary.format));
    if (result.summary.versionText) panel.setFieldText(IDC_VERSION, displayVersion(result.summary));
    panel.setFieldText(IDC_CRC, result.summary.checksumsOk ? "OK" : "ERROR");
    panel.setFieldText(IDC_DUMPSIZE,
                       " " + decimal(static_cast<std::int32_t>(result.summary.size)) + " bytes");
    panel.setFieldText(IDC_FRAMESTOTAL, decimal(result.summary.frameCount));
    panel.setControlEnabled(IDC_UPDATE, true);
    panel.setStatus("Ready");
    panel.redrawPanel();
}
