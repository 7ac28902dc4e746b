// Load SW in the Qt window: the file dialog and the panel fields.
#include "ui/load_software.h"

#include <QFile>
#include <QFileDialog>
#include <QStringList>

void configureOpenDialog(QFileDialog& dialog) {
    dialog.setWindowTitle(QString::fromLatin1(kOpenDialogTitle));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // AnyFile: a typed name of a file that does not exist is returned, and the open then fails. Qt's own
    // dialog, since a desktop's native open dialog may insist on existing files.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setFileMode(QFileDialog::AnyFile);
    // The entries show their own texts only; the patterns in the last parentheses do the matching.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    QStringList filters;
    for (const ImageFileType& type : imageFileTypes()) {
        // Qt separates patterns with spaces, and its "every name" is "*".
        QString patterns = QString::fromLatin1(type.patterns).replace(';', ' ');
        if (patterns == QStringLiteral("*.*")) patterns = QStringLiteral("*");
        filters << QStringLiteral("%1 (%2)").arg(QLatin1String(type.shownAs), patterns);
    }
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.first());
}

OpenFileFunction platformOpenFile(QWidget* owner) {
    return [owner]() -> std::optional<std::string> {
        QFileDialog dialog(owner);
        configureOpenDialog(dialog);
        if (dialog.exec() != QDialog::Accepted) return std::nullopt;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.first().isEmpty()) return std::nullopt;
        return QFile::encodeName(chosen.first()).toStdString();
    };
}
