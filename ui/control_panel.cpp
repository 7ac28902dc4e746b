#include "ui/control_panel.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimerEvent>
#include <algorithm>
#include <climits>

#include "serial/activity_flags.h"
#include "serial/port_info.h"
#include "serial/serial_link.h"
#include "session/session_control.h"
#include "ui/about_text.h"
#include "ui/dialog_units.h"
#include "ui/panel_fonts.h"
#include "ui/panel_layout.h"

namespace {

// What each value field shows, for assistive technology (its accessible name stays its text).
struct FieldDescription {
    int id;
    const char* description;
};
constexpr FieldDescription kFieldDescriptions[] = {
    {IDC_MODULE, "Module"},
    {IDC_FORMAT, "Format"},
    {IDC_VERSION, "Version"},
    {IDC_DUMPSIZE, "Dump size"},
    {IDC_CRC, "CRC"},
    {IDC_PHONE, "Phone"},
    {IDC_IMEI, "IMEI"},
    {IDC_FRAMESSENT, "Frames sent"},
    {IDC_FRAMESTOTAL, "Frames total"},
    {IDC_TIME, "Time"},
    {IDC_STATUS, "Status"},
    {IDC_LINKSTATE, "Link state"},
    {IDC_LOADER, "Loader"},
    {IDC_BUILDSTAMP, "Build stamp"},
    {IDC_CREDITS, "Credits"},
};

constexpr int kPortIds[] = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4};

QString fromText(const std::string& text) {
    return QString::fromStdString(text);
}

Qt::Alignment alignmentOf(unsigned style) {
    Qt::Alignment horizontal = (style & kCentred) ? Qt::AlignHCenter : Qt::AlignLeft;
    Qt::Alignment vertical = (style & kVCentred) ? Qt::AlignVCenter : Qt::AlignTop;
    return horizontal | vertical;
}

void applySunkenEdge(QFrame* frame) {
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    frame->setLineWidth(1);
}

}  // namespace

void configureMessageBox(QMessageBox& box, const std::string& text, const std::string& detail,
                         const std::string& caption, MessageIcon icon) {
    box.setWindowTitle(fromText(caption));
    box.setTextFormat(Qt::PlainText);
    box.setText(fromText(text));
    // The informative text is a label of its own: plain text too, or a name with markup in it would render.
    box.setInformativeText(fromText(detail));
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box.setIcon(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::NoIcon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    // A reason names a path and a fix: room for about 60 characters a line, not the main text's narrow
    // width. The box lays itself out anew when its parts change, so this comes last.
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!detail.empty() && grid != nullptr)
        grid->addItem(new QSpacerItem(box.fontMetrics().averageCharWidth() * 60, 0, QSizePolicy::Minimum),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

ControlPanel::ControlPanel(QWidget* parent) : QWidget(parent) {
    Q_INIT_RESOURCE(ui_resources);
    setObjectName(QStringLiteral("ControlPanel"));
    setFont(panelFont());
    setFixedSize(kClientWidth, kClientHeight);
    // The bitmap and icons are loaded once and kept for the life of the panel.
    ledStrip_ = QPixmap(QStringLiteral(":/ui/ledstrip.png"));
    for (int i = 0; i < kIconCount; ++i) {
        icons_[static_cast<std::size_t>(i)].addFile(
            QStringLiteral(":/ui/icon%1_16.png").arg(kFirstIconId + i), QSize(16, 16));
        icons_[static_cast<std::size_t>(i)].addFile(QStringLiteral(":/ui/icon_32.png"), QSize(32, 32));
    }
    createControls();
    initialise();
}

ControlPanel::~ControlPanel() = default;

QWidget* ControlPanel::createControl(const ControlEntry& entry) {
    QWidget* widget = nullptr;
    const QString caption = QString::fromLatin1(entry.caption);
    switch (entry.kind) {
        case ControlKind::Text: {
            auto* label = new QLabel(caption, this);
            label->setTextFormat(Qt::PlainText);
            label->setAlignment(alignmentOf(entry.style));
            if (entry.style & kEdge) {
                applySunkenEdge(label);
                label->setIndent(0);  // the texts bring their own leading space
            }
            widget = label;
            break;
        }
        case ControlKind::GroupBox:
            widget = new QGroupBox(this);
            widget->setFocusPolicy(Qt::NoFocus);
            break;
        case ControlKind::ProgressBar: {
            auto* bar = new QProgressBar(this);
            bar->setTextVisible(false);
            bar->setRange(0, static_cast<int>(progressRange_));
            bar->setValue(0);
            widget = bar;
            break;
        }
        case ControlKind::RadioButton:
            widget = new QRadioButton(caption, this);
            break;
        case ControlKind::PushButton: {
            auto* button = new QPushButton(caption, this);
            button->setAutoDefault(false);
            widget = button;
            break;
        }
        case ControlKind::EditBox: {
            auto* edit = new QPlainTextEdit(this);
            edit->setReadOnly(true);
            edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
            edit->setLineWrapMode(QPlainTextEdit::NoWrap);
            edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
            edit->document()->setDocumentMargin(1);
            applySunkenEdge(edit);
            // Keeps the selection shown while another control has the focus.
            QPalette palette = edit->palette();
            palette.setColor(QPalette::Inactive, QPalette::Highlight,
                             palette.color(QPalette::Active, QPalette::Highlight));
            palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                             palette.color(QPalette::Active, QPalette::HighlightedText));
            edit->setPalette(palette);
            widget = edit;
            break;
        }
    }
    widget->setObjectName(QStringLiteral("IDC_%1").arg(entry.id));
    const PixelRect r = dialogRectToPixels(entry.x, entry.y, entry.width, entry.height);
    widget->setGeometry(r.x, r.y, r.width, r.height);
    // A plain label sits left-aligned with empty room to its right; let a face a pixel wider than the
    // layout's original one use that room rather than clip the last letter ("Frames", "Dump size").
    if (entry.kind == ControlKind::Text && entry.style == kPlain && caption.size() > 0)
        widget->resize(std::max(r.width, widget->sizeHint().width()), r.height);
    return widget;
}

void ControlPanel::createControls() {
    // Created in the layout's order, so later controls lie over earlier ones (the About pane over the
    // image rows) and keyboard focus follows the layout.
    for (const ControlEntry& entry : panelLayout()) controls_[entry.id] = createControl(entry);
    for (int i = 0; i < 4; ++i)
        ports_.addButton(static_cast<QRadioButton*>(controls_.at(kPortIds[i])), kPortIds[i]);
    ports_.setExclusive(true);
    for (const FieldDescription& field : kFieldDescriptions) {
        controls_.at(field.id)->setAccessibleDescription(QString::fromLatin1(field.description));
    }
    connect(static_cast<QPushButton*>(controls_.at(IDC_UPDATE)), &QPushButton::clicked, this,
            &ControlPanel::updatePressed);
    connect(static_cast<QPushButton*>(controls_.at(IDC_LOADSW)), &QPushButton::clicked, this,
            &ControlPanel::loadSoftwarePressed);
    connect(static_cast<QPushButton*>(controls_.at(IDC_ABOUT)), &QPushButton::clicked, this,
            &ControlPanel::toggleAbout);
    for (int id : kPortIds) controls_.at(id)->installEventFilter(this);
}

void ControlPanel::initialise() {
    static_cast<QRadioButton*>(controls_.at(IDC_COM1))->setChecked(true);
    static_cast<QPlainTextEdit*>(controls_.at(IDC_CREDITS))
        ->setPlainText(QString::fromLatin1(kCredits).toUpper());
    setFieldText(IDC_BUILDSTAMP, kBuildStamp);
    valueFont_ = makeValueFont();
    for (const ControlEntry& entry : panelLayout()) {
        if (entry.style & kValueFont) controls_.at(entry.id)->setFont(valueFont_);
    }
    for (const ControlEntry& entry : panelLayout()) {
        if (entry.style & kAboutPane) controls_.at(entry.id)->setVisible(false);
    }
    clearImageFields();
    refreshPortTooltips();
    clockTimer_.start(kClockIntervalMs, this);
    lightsTimer_.start(kLightsIntervalMs, this);
    iconTimer_.start(kIconIntervalMs, this);
}

QWidget* ControlPanel::control(int id) const {
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

QString ControlPanel::text(int id) const {
    QWidget* widget = control(id);
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) return edit->toPlainText();
    return {};
}

void ControlPanel::setStatus(const std::string& text) {
    setFieldText(IDC_STATUS, text);
    controls_.at(IDC_STATUS)->update();
}

void ControlPanel::setFieldText(int control, const std::string& text) {
    QWidget* widget = this->control(control);
    if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(fromText(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        button->setText(fromText(text));
    } else if (auto* edit = qobject_cast<QPlainTextEdit*>(widget)) {
        edit->setPlainText(fromText(text).toUpper());
    }
}

void ControlPanel::clearImageFields() {
    for (int id : {IDC_MODULE, IDC_FORMAT, IDC_DUMPSIZE, IDC_CRC, IDC_VERSION, IDC_PHONE, IDC_IMEI}) {
        setFieldText(id, "");
    }
    setFieldText(IDC_STATUS, "Ready");
    setFieldText(IDC_FRAMESSENT, "");
    setFieldText(IDC_LINKSTATE, "CLOSED");
    setFieldText(IDC_LOADER, "");
    setControlEnabled(IDC_UPDATE, false);
}

void ControlPanel::progressStart(std::uint32_t range) {
    progressRange_ = range;
    progressPosition_ = 0;
    auto* bar = static_cast<QProgressBar*>(controls_.at(IDC_PROGRESS));
    // An empty range still draws an empty bar (Qt would otherwise animate a busy bar).
    bar->setRange(0, static_cast<int>(std::clamp<std::uint32_t>(range, 1, INT_MAX)));
    bar->setValue(0);
}

void ControlPanel::progressStep() {
    ++progressPosition_;
    if (progressPosition_ > progressRange_) progressPosition_ = 0;
    static_cast<QProgressBar*>(controls_.at(IDC_PROGRESS))
        ->setValue(static_cast<int>(std::min<std::uint32_t>(progressPosition_, INT_MAX)));
}

void ControlPanel::progressReset() {
    progressPosition_ = 0;
    static_cast<QProgressBar*>(controls_.at(IDC_PROGRESS))->setValue(0);
}

void ControlPanel::showMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    const bool portFailed = portFailure_ && text == failureMessage(kPortBusy);
    showDetailedMessage(text, portFailed ? portFailure_() : std::string(), caption, icon);
}

void ControlPanel::showDetailedMessage(const std::string& text, const std::string& detail,
                                       const std::string& caption, MessageIcon icon) {
    QMessageBox box(this);
    configureMessageBox(box, text, detail, caption, icon);
    if (messageBox_)
        messageBox_(box);
    else
        box.exec();
}

char ControlPanel::selectedPortDigit() {
    // COM 4 is never asked: it is what is left when none of the first three is checked.
    if (static_cast<QRadioButton*>(controls_.at(IDC_COM1))->isChecked()) return '1';
    if (static_cast<QRadioButton*>(controls_.at(IDC_COM2))->isChecked()) return '2';
    if (static_cast<QRadioButton*>(controls_.at(IDC_COM3))->isChecked()) return '3';
    return '4';
}

void ControlPanel::setControlEnabled(int control, bool enabled) {
    if (QWidget* widget = this->control(control)) widget->setEnabled(enabled);
}

void ControlPanel::setControlVisible(int control, bool visible) {
    if (QWidget* widget = this->control(control)) widget->setVisible(visible);
}

void ControlPanel::redrawPanel() {
    update();
}

void ControlPanel::toggleAbout() {
    const bool show = !aboutShown_;
    for (int id : {IDC_ABOUTTITLE, IDC_CREDITS, IDC_BUILDSTAMP}) setControlVisible(id, show);
    for (int id : {IDC_MODULE_LABEL, IDC_MODULE, IDC_FORMAT}) setControlVisible(id, !show);
    aboutShown_ = show;
    setFieldText(IDC_ABOUT, show ? "Data Info" : "About");
    redrawPanel();
}

void ControlPanel::clockTick() {
    const bool running = clockRunning_ != nullptr && clockRunning_->load();
    if (auto text = clock_.tick(running)) setFieldText(IDC_TIME, *text);
}

void ControlPanel::lightsTick() {
    // Each raising of a flag lights its light for exactly one tick.
    const bool receive = activityFlags.rxSeen.exchange(false);
    const bool send = activityFlags.txSeen.exchange(false);
    if (receive != receiveLit_) {
        receiveLit_ = receive;
        repaintLight(kReceiveLightX, kReceiveLightY);
    }
    if (send != sendLit_) {
        sendLit_ = send;
        repaintLight(kSendLightX, kSendLightY);
    }
    const bool sessionRunning = sessionRunning_ != nullptr && sessionRunning_->load();
    if (!receiveLit_ && !sendLit_ && !sessionRunning) lightsTimer_.stop();
}

void ControlPanel::startLights() {
    if (!lightsTimer_.isActive()) lightsTimer_.start(kLightsIntervalMs, this);
}

void ControlPanel::repaintLight(int x, int y) {
    update(x, y, kLightSize, kLightSize);
}

void ControlPanel::iconTick() {
    const int frame = iconFrame_;
    iconFrame_ = (iconFrame_ + 1) % kIconCount;
    window()->setWindowIcon(icons_[static_cast<std::size_t>(frame)]);
}

void ControlPanel::stopTimers() {
    clockTimer_.stop();
    lightsTimer_.stop();
    iconTimer_.stop();
}

void ControlPanel::timerEvent(QTimerEvent* event) {
    if (event->timerId() == clockTimer_.timerId()) {
        clockTick();
    } else if (event->timerId() == lightsTimer_.timerId()) {
        lightsTick();
    } else if (event->timerId() == iconTimer_.timerId()) {
        iconTick();
    } else {
        QWidget::timerEvent(event);
    }
}

void ControlPanel::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    // Strip cells: 0 off, 1 receive lit, 2 send lit.
    painter.drawPixmap(QPoint(kReceiveLightX, kReceiveLightY), ledStrip_,
                       QRect(receiveLit_ ? kLightSize : 0, 0, kLightSize, kLightSize));
    painter.drawPixmap(QPoint(kSendLightX, kSendLightY), ledStrip_,
                       QRect(sendLit_ ? 2 * kLightSize : 0, 0, kLightSize, kLightSize));
    if (!painted_) {
        painted_ = true;
        emit firstPainted();
    }
}

void ControlPanel::setPortPathFunction(PortPathFunction function) {
    portPath_ = std::move(function);
    refreshPortTooltips();
}

void ControlPanel::setPortRoots(const SystemRoots& roots) {
    portRoots_ = roots;
    refreshPortTooltips();
}

void ControlPanel::refreshPortTooltips() {
    for (int i = 0; i < 4; ++i) refreshPortTooltip(i);
}

// "COM1: /dev/ttyUSB0, USB serial cable 067b:2303 (Prolific), ready", and the fix on the lines below when
// something stands in the way.
void ControlPanel::refreshPortTooltip(int index) {
    const char digit = static_cast<char>('1' + index);
    const std::string path = portPath_ ? portPath_(digit) : comDevicePath(digit, portRoots_.dev);
    const PortInfo port = describePort(path, portRoots_);
    std::string tip = std::string("COM") + digit + ": " + oneLine(path) + ", " + portDetails(port);
    if (const std::string fix = portFix(port); !fix.empty()) tip += "\n" + fix;
    controls_.at(kPortIds[index])->setToolTip(fromText(tip));
}

bool ControlPanel::eventFilter(QObject* watched, QEvent* event) {
    // The device behind a port can come and go: name it as it is when its tooltip is about to show, and
    // only then (no polling, no cost while idle).
    if (event->type() == QEvent::ToolTip) {
        for (int i = 0; i < 4; ++i) {
            if (controls_.at(kPortIds[i]) == watched) refreshPortTooltip(i);
        }
    }
    return QWidget::eventFilter(watched, event);
}
