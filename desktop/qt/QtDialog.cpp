#include "desktop/qt/QtDialog.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "ui/AccessibleNames.h"
#include "ui/FieldNumber.h"
#include "ui/Layout.h"

namespace vornic::ui::qt {

namespace {

QString qs(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A button whose checked state only the program sets: a click reports the click and leaves the
// state alone ("Track on"/"Track off", the plain radio buttons).
template <class Base>
class ProgramChecked final : public Base {
  public:
    using Base::Base;

  protected:
    void nextCheckState() override {}
};

// Static text that reports clicks (the About box's web address).
class LinkLabel final : public QLabel {
  public:
    LinkLabel(const QString& text, QWidget* parent, std::function<void()> clicked);

  protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QLabel::mouseReleaseEvent(event);
        if (rect().contains(event->position().toPoint())) {
            clicked_();
        }
    }
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Space) {
            clicked_();
            return;
        }
        QLabel::keyPressEvent(event);
    }

  public:
    void follow() { clicked_(); }

  private:
    std::function<void()> clicked_;
};

// What a screen reader sees of a LinkLabel: a link, with a Press action that follows it as a
// click or Space does.
class LinkAccessible final : public QAccessibleWidget {
  public:
    explicit LinkAccessible(LinkLabel* link) : QAccessibleWidget(link, QAccessible::Link) {}

    QString text(QAccessible::Text t) const override {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.isEmpty()) {
            s = static_cast<const QLabel*>(widget())->text();
        }
        return s;
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.linked = true;
        return s;
    }
    QStringList actionNames() const override {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name != pressAction()) {
            QAccessibleWidget::doAction(name);
        } else if (widget()->isEnabled()) {
            static_cast<LinkLabel*>(widget())->follow();
        }
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        return name == pressAction() ? QStringList(QStringLiteral("Space"))
                                     : QAccessibleWidget::keyBindingsForAction(name);
    }
};

QAccessibleInterface* linkAccessible(const QString&, QObject* object) {
    auto* link = dynamic_cast<LinkLabel*>(object);
    return link != nullptr ? new LinkAccessible(link) : nullptr;
}

LinkLabel::LinkLabel(const QString& text, QWidget* parent, std::function<void()> clicked)
    : QLabel(text, parent), clicked_(std::move(clicked)) {
    // QLabel's constructor may already have made and kept its plain-text interface, before this
    // object was a link; it is dropped so that the next query makes the link's.
    static const bool linksAccessible = (QAccessible::installFactory(linkAccessible), true);
    static_cast<void>(linksAccessible);
    QAccessibleInterface* made = QAccessible::queryAccessibleInterface(this);
    if (made != nullptr && made->role() != QAccessible::Link) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
    }
}

// A drop-down list that says when it is about to open, while its items can still be brought up
// to date. The opened list is as wide as its longest item, even where the closed box is narrow;
// it is measured as it opens rather than at each item added, which measured every item again
// each time while the window's lists were filled before its first paint.
class DropDown final : public QComboBox {
  public:
    using QComboBox::QComboBox;
    std::function<void()> opening;

    void showPopup() override {
        if (opening) {
            opening();
        }
        view()->setMinimumWidth(view()->sizeHintForColumn(0) + 8);
        QComboBox::showPopup();
    }
};

// The frame and caption around a group of related controls. Drawn here rather than by QGroupBox:
// painting a group box under the Fusion style loads every image-format plugin and starts pool
// threads before the window's first paint, for a frame and a line of text. Drawn as Fusion draws
// its group boxes: the caption at the top left, below it a faintly shaded panel with a rounded
// border.
class GroupFrame final : public QWidget {
  public:
    GroupFrame(const QString& title, QWidget* parent) : QWidget(parent), title_(title) {}

    void setTitle(const QString& title) {
        title_ = title;
        update();
    }
    [[nodiscard]] const QString& title() const { return title_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        const int captionHeight = metrics.height() + 2;
        const int top = title_.isEmpty() ? kTopMargin : std::max(metrics.height(), 14) + kTopMargin;
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF panel = QRectF(rect()).adjusted(0.5, top + 0.5, -0.5, -0.5);
        // Faint black over the window's colour, mixed here into solid colours: a translucent
        // fill of a panel this tall is spread over pool threads by the raster engine, which
        // would start them for the window's first paint. The panel is a plain rectangle fill,
        // far cheaper than filling the rounded outline, which only its border follows.
        const QColor window = palette().color(QPalette::Window);
        painter.fillRect(rect().adjusted(1, top + 1, -1, -1), shaded(window, 3));
        painter.setPen(shaded(window, 25));
        painter.drawRoundedRect(panel, 2, 2);
        painter.setPen(shaded(window, 3 + 4));  // its own shade over the panel's
        painter.drawLine(QPointF(panel.left() + 2, panel.top() + 1),
                         QPointF(panel.right() - 2, panel.top() + 1));
        if (!title_.isEmpty()) {
            painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                           QPalette::WindowText));
            painter.drawText(QRect(0, 0, width(), captionHeight),
                             Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, title_);
        }
    }

  private:
    static constexpr int kTopMargin = 4;
    QString title_;

    // `colour` under black of opacity `alpha` (of 255).
    static QColor shaded(const QColor& colour, int alpha) {
        const auto mix = [alpha](int c) { return (c * (255 - alpha) + 127) / 255; };
        return QColor(mix(colour.red()), mix(colour.green()), mix(colour.blue()));
    }
};

// What a screen reader sees of a GroupFrame: a group named by its caption, as of a group box.
class GroupAccessible final : public QAccessibleWidget {
  public:
    explicit GroupAccessible(GroupFrame* group) : QAccessibleWidget(group, QAccessible::Grouping) {}

    QString text(QAccessible::Text t) const override {
        QString s = QAccessibleWidget::text(t);
        if (t == QAccessible::Name && s.isEmpty()) {
            s = static_cast<const GroupFrame*>(widget())->title();
        }
        return s;
    }
};

QAccessibleInterface* groupAccessible(const QString&, QObject* object) {
    auto* group = dynamic_cast<GroupFrame*>(object);
    return group != nullptr ? new GroupAccessible(group) : nullptr;
}

}  // namespace

DialogUnits DialogUnits::forFont(const QFont& font) {
    // As the Win32 dialog manager measures a dialog font: the average width of the 52 Latin
    // letters, rounded, and the font's full line height.
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    DialogUnits u;
    u.baseX = std::max(1, (width / 26 + 1) / 2);
    u.baseY = std::max(1, metrics.height());
    return u;
}

QIcon arrowIcon(int imageId) {
    // Drawn at twice the size and scaled by Qt as needed, so the triangle stays sharp at scale 2.
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap(16 * scale, 16 * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(QApplication::palette().color(QPalette::ButtonText));
        QPolygonF t;
        switch (imageId) {
            case image::kArrowLeft:
                t << QPointF(4, 8) << QPointF(11, 2) << QPointF(11, 14);
                break;
            case image::kArrowRight:
                t << QPointF(12, 8) << QPointF(5, 2) << QPointF(5, 14);
                break;
            case image::kArrowUp:
                t << QPointF(8, 4) << QPointF(2, 11) << QPointF(14, 11);
                break;
            default:
                t << QPointF(8, 12) << QPointF(2, 5) << QPointF(14, 5);
                break;
        }
        p.drawPolygon(t);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// ---------------------------------------------------------------------------------------------

DialogWindow::DialogWindow(QtDialog& owner, QWidget* parent) : QDialog(parent), owner_(owner) {}

bool DialogWindow::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && owner_.activated_ && !owner_.ended()) {
        owner_.activated_();
    }
    if (event->type() == QEvent::Paint && !painted_) {
        painted_ = true;
        // Queued, so that it runs once the whole window, controls and all, is on the screen.
        QTimer::singleShot(0, this, [this] {
            if (owner_.painted_ && !owner_.ended()) {
                owner_.painted_(owner_);
            }
        });
    }
    return QDialog::event(event);
}

void DialogWindow::closeEvent(QCloseEvent* event) {
    owner_.closeRequested();
    if (owner_.ended()) {
        event->accept();
    } else {
        event->ignore();
    }
}

void DialogWindow::keyPressEvent(QKeyEvent* event) {
    // The dialog manager turns Enter into command 1 and Escape into command 2 whether or not the
    // dialog has such buttons; only the logic decides what they do.
    if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        switch (event->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter: {
                // A focused push button is pressed; elsewhere Enter means the default, id 1.
                const auto focused = owner_.ids_.find(focusWidget());
                owner_.command(enterCommand(owner_.layout_,
                                            focused == owner_.ids_.end() ? 0 : focused->second),
                               notify::kClicked);
                return;
            }
            case Qt::Key_Escape:
                owner_.command(2, notify::kClicked);
                return;
            default:
                break;
        }
    }
    QWidget::keyPressEvent(event);  // not QDialog's, which would close on Escape
}

bool DialogWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::FocusOut:
            // A context menu borrows the focus without the user leaving the field.
            if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
                owner_.fieldLeft(widget);
                owner_.sliderKeyUp(widget);
            }
            break;
        case QEvent::Wheel:
            // The wheel acts only on the control the keyboard is on: turned while the pointer
            // merely passes over a slider or a list, it must change no setting and no port.
            if (!widget->hasFocus()) {
                event->ignore();
                return true;
            }
            break;
        case QEvent::KeyPress:
            owner_.sliderKeyDown(widget, *static_cast<QKeyEvent*>(event));
            break;
        case QEvent::KeyRelease:
            if (!static_cast<QKeyEvent*>(event)->isAutoRepeat()) {
                owner_.sliderKeyUp(widget);
            }
            break;
        default:
            break;
    }
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------

QtDialog::QtDialog(const DialogLayout& layout, DialogLogic& logic, QWidget* parent)
    : layout_(layout), logic_(logic) {
    window_ = new DialogWindow(*this, parent);
    build();
}

QtDialog::~QtDialog() {
    ended_ = true;
    delete window_.data();
}

void QtDialog::build() {
    DialogWindow& w = *window_;
    units_ = DialogUnits::forFont(w.font());
    w.setWindowTitle(QString::fromUtf8(layout_.caption));
    // A fixed-size dialog frame: caption, system menu and close box, no minimise or maximise.
    w.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                     Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    w.setModal(true);
    w.setSizeGripEnabled(false);

    // A menu bar goes above the controls; the client area under it keeps the table's size.
    const int top = buildMenus();
    w.setFixedSize(units_.x(layout_.width), units_.y(layout_.height) + top);

    QWidget* previous = nullptr;
    for (const ControlLayout& c : layout_.controls) {
        QWidget* widget = makeWidget(c);
        const Rect r = visibleRect(c);
        int x = units_.x(r.x);
        int y = units_.y(r.y) + top;
        int width = units_.x(r.x + r.w) - x;
        int height = units_.y(r.y + r.h) + top - y;
        if (c.kind == ControlKind::kEtchedLine) {
            height = 2;
        }
        widget->setGeometry(x, y, width, height);
        widgets_[c.id] = widget;
        ids_[widget] = c.id;
        const std::string name = accessibleName(layout_, c);
        if (!name.empty()) {
            widget->setAccessibleName(qs(name));
        }
        if (*c.toolTip != '\0') {
            widget->setToolTip(QString::fromUtf8(c.toolTip));
        }
        if (c.kind == ControlKind::kGroupBox) {
            widget->lower();  // drawn under the controls it frames
        }
        if (widget->focusPolicy() != Qt::NoFocus) {
            if (previous != nullptr) {
                QWidget::setTabOrder(previous, widget);  // the table's order
            }
            previous = widget;
        }
    }
    fitTexts();
}

int QtDialog::buildMenus() {
    const std::span<const MenuLayout> menus = dialogMenus(layout_.id);
    if (menus.empty()) {
        return 0;
    }
    auto* bar = new QMenuBar(window_);
    for (const MenuLayout& m : menus) {
        QMenu* menu = bar->addMenu(QString::fromUtf8(m.title));
        for (const MenuItemLayout& item : m.items) {
            QAction* action = menu->addAction(QString::fromUtf8(item.text));
            const ControlId id = item.id;
            QObject::connect(action, &QAction::triggered, action,
                             [this, id] { command(id, notify::kClicked); });
            actions_[id] = action;
        }
    }
    const int height = bar->sizeHint().height();
    bar->setGeometry(0, 0, units_.x(layout_.width), height);
    return height;
}

QAction* QtDialog::action(ControlId id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QWidget* QtDialog::makeWidget(const ControlLayout& c) {
    QWidget* parent = window_;
    const QString text = QString::fromUtf8(c.text);
    const bool tabStop = (c.style & style::kTabStop) != 0;
    const ControlId id = c.id;
    switch (c.kind) {
        case ControlKind::kLabel:
        case ControlKind::kLabelRight:
        case ControlKind::kLabelCentre: {
            QLabel* label = nullptr;
            if ((c.style & style::kNotify) != 0) {
                label = new LinkLabel(text, parent, [this, id] { command(id, notify::kClicked); });
                // Reachable with Tab and opened with Space, so the keyboard can follow it too.
                label->setFocusPolicy(Qt::StrongFocus);
            } else {
                label = new QLabel(text, parent);
            }
            const Qt::Alignment h = c.kind == ControlKind::kLabelRight    ? Qt::AlignRight
                                    : c.kind == ControlKind::kLabelCentre ? Qt::AlignHCenter
                                                                          : Qt::AlignLeft;
            label->setAlignment(h | Qt::AlignTop);
            label->setWordWrap(true);
            if ((c.style & style::kLink) != 0) {
                QFont f = label->font();
                f.setUnderline(true);
                label->setFont(f);
                QPalette pal = label->palette();
                pal.setColor(QPalette::WindowText, pal.color(QPalette::Link));
                label->setPalette(pal);
                label->setCursor(Qt::PointingHandCursor);
            }
            if ((c.style & style::kTitle) != 0) {
                // A title 16 pixels high where the dialog font is 13: the same ratio at any size.
                QFont f = label->font();
                f.setPointSizeF(f.pointSizeF() * 16.0 / 13.0);
                f.setBold(true);
                label->setFont(f);
            }
            return label;
        }
        case ControlKind::kEdit:
        case ControlKind::kReadOnlyEdit: {
            auto* edit = new QLineEdit(parent);
            edit->installEventFilter(window_);
            if (c.kind == ControlKind::kReadOnlyEdit) {
                edit->setReadOnly(true);
                // Read-only fields sit on the dialog's own colour, as the user expects of text
                // that can be selected and copied but not changed.
                QPalette pal = edit->palette();
                pal.setColor(QPalette::Base, pal.color(QPalette::Window));
                edit->setPalette(pal);
            }
            edit->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
            return edit;
        }
        case ControlKind::kButton:
        case ControlKind::kPictureButton: {
            auto* button = new QPushButton(text, parent);
            button->setAutoDefault(false);
            button->setDefault(false);
            if (c.kind == ControlKind::kPictureButton) {
                button->setIconSize(QSize(16, 16));
            }
            QObject::connect(button, &QPushButton::clicked, button,
                             [this, id] { command(id, notify::kClicked); });
            return button;
        }
        case ControlKind::kPushLikeCheck:
        case ControlKind::kRadioButton:
        case ControlKind::kCheckBox: {
            QAbstractButton* button = nullptr;
            const bool automatic =
                c.kind == ControlKind::kCheckBox && (c.style & style::kAuto) != 0;
            if (c.kind == ControlKind::kPushLikeCheck) {
                auto* push = new ProgramChecked<QPushButton>(text, parent);
                push->setAutoDefault(false);
                button = push;
            } else if (c.kind == ControlKind::kRadioButton) {
                button = new ProgramChecked<QRadioButton>(text, parent);
                button->setAutoExclusive(false);
            } else if (automatic) {
                button = new QCheckBox(text, parent);
            } else {
                button = new ProgramChecked<QCheckBox>(text, parent);
            }
            button->setCheckable(true);
            if (!automatic) {
                QObject::connect(button, &QAbstractButton::clicked, button,
                                 [this, id] { command(id, notify::kClicked); });
            }
            // A state change nobody in the program made: a click on an automatic box, or a
            // Toggle from assistive technology. The latter bypasses the click, so for the
            // program-checked kinds the state goes back to what the program set and the logic
            // hears a click, exactly as from the mouse.
            QObject::connect(button, &QAbstractButton::toggled, button,
                             [this, id, automatic, button](bool checked) {
                                 if (programmatic_) {
                                     return;
                                 }
                                 if (!automatic) {
                                     programmatic_ = true;
                                     button->setChecked(!checked);
                                     programmatic_ = false;
                                 }
                                 command(id, notify::kClicked);
                             });
            return button;
        }
        case ControlKind::kGroupBox: {
            static const bool groupsAccessible =
                (QAccessible::installFactory(groupAccessible), true);
            static_cast<void>(groupsAccessible);
            auto* group = new GroupFrame(text, parent);
            group->setFocusPolicy(Qt::NoFocus);
            return group;
        }
        case ControlKind::kDropDownList: {
            auto* combo = new DropDown(parent);
            combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
            // The wheel neither gives it the focus nor, without the focus, changes it.
            combo->setFocusPolicy(Qt::StrongFocus);
            combo->installEventFilter(window_);
            QObject::connect(combo, &QComboBox::activated, combo,
                             [this, id](int) { command(id, notify::kSelChange); });
            return combo;
        }
        case ControlKind::kSlider: {
            auto* slider = new QSlider(Qt::Horizontal, parent);
            if ((c.style & style::kAutoTicks) != 0) {
                slider->setTickPosition(QSlider::TicksBelow);
                slider->setTickInterval(1);
            }
            QObject::connect(slider, &QSlider::sliderReleased, slider,
                             [this, id] { endTrack(id); });
            slider->setFocusPolicy(Qt::StrongFocus);
            slider->installEventFilter(window_);
            // A key held down moves the slider step by step; the interaction ends when it is
            // released (sliderKeyUp), as a drag ends with the mouse button.
            QObject::connect(slider, &QSlider::valueChanged, slider, [this, id, slider](int) {
                if (!programmatic_ && !slider->isSliderDown() && !keysDown_[id]) {
                    queueEndTrack(id);
                }
            });
            return slider;
        }
        case ControlKind::kTable: {
            auto* table = new QTableWidget(parent);
            table->setEditTriggers(QAbstractItemView::NoEditTriggers);
            table->setSelectionBehavior(QAbstractItemView::SelectRows);
            table->setSelectionMode(QAbstractItemView::SingleSelection);
            // Tab leaves the table for the next control instead of walking its cells.
            table->setTabKeyNavigation(false);
            table->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
            table->verticalHeader()->setVisible(false);
            table->horizontalHeader()->setStretchLastSection(false);
            table->setWordWrap(false);
            QObject::connect(table, &QTableWidget::itemSelectionChanged, table,
                             [this, id] { command(id, notify::kSelChange); });
            return table;
        }
        case ControlKind::kEtchedLine: {
            auto* line = new QFrame(parent);
            line->setFrameShape(QFrame::HLine);
            line->setFrameShadow(QFrame::Sunken);
            return line;
        }
    }
    return new QWidget(parent);
}

void QtDialog::alignWithField(const ControlLayout& label, QLabel& widget) {
    // A one-line caption beside a field shares the field's text line: the toolkit pads fields
    // differently from the dialog manager, so the label takes the field's height and centres.
    for (const ControlLayout& c : layout_.controls) {
        const bool field = c.kind == ControlKind::kEdit || c.kind == ControlKind::kReadOnlyEdit ||
                           c.kind == ControlKind::kDropDownList;
        const Rect f = visibleRect(c);
        const int gapRight = f.x - (label.rect.x + label.rect.w);
        const int gapLeft = label.rect.x - (f.x + f.w);
        const bool beside = (gapRight >= -1 && gapRight <= 8) || (gapLeft >= -1 && gapLeft <= 8);
        if (!field || !beside || f.y > label.rect.y + label.rect.h || f.y + f.h < label.rect.y) {
            continue;
        }
        QWidget* other = this->widget(c.id);
        QRect g = widget.geometry();
        g.setTop(other->geometry().top());
        g.setHeight(other->geometry().height());
        widget.setGeometry(g);
        widget.setAlignment((widget.alignment() & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter);
        return;
    }
}

void QtDialog::fitTexts() {
    // Text is measured in the user's font, which is seldom the one the table was drawn for: a
    // caption that would be cut grows into the free space beside it (to the right, or to both
    // sides when centred), never over another control or out of its group or the window.
    std::vector<std::pair<const ControlLayout*, QWidget*>> all;
    for (const ControlLayout& c : layout_.controls) {
        all.emplace_back(&c, widget(c.id));
    }
    for (auto [c, w] : all) {
        const bool checkLike =
            c->kind == ControlKind::kCheckBox || c->kind == ControlKind::kRadioButton;
        const bool label = c->kind == ControlKind::kLabel || c->kind == ControlKind::kLabelCentre ||
                           c->kind == ControlKind::kLabelRight;
        if (!checkLike && !label) {
            continue;
        }
        if (label && c->rect.h < 16) {
            alignWithField(*c, *static_cast<QLabel*>(w));
        }
        const int needed =
            checkLike ? w->sizeHint().width()
                      : w->fontMetrics().horizontalAdvance(static_cast<QLabel*>(w)->text()) + 2;
        QRect g = w->geometry();
        if (needed <= g.width() || (label && c->rect.h >= 16)) {
            continue;  // fits, or is meant to wrap onto more lines
        }
        int left = 0;
        int right = window_->width();
        for (auto [o, other] : all) {
            if (other == w || o->kind == ControlKind::kEtchedLine) {
                continue;
            }
            const QRect og = other->geometry();
            if (o->kind == ControlKind::kGroupBox) {
                if (og.contains(g)) {
                    left = std::max(left, og.left() + 4);
                    right = std::min(right, og.right() - 4);
                }
                continue;
            }
            if (og.bottom() < g.top() || og.top() > g.bottom()) {
                continue;
            }
            if (og.left() >= g.right()) {
                right = std::min(right, og.left() - 2);
            } else if (og.right() <= g.left()) {
                left = std::max(left, og.right() + 2);
            }
        }
        const int extra = needed - g.width();
        if (c->kind == ControlKind::kLabelCentre) {
            const int grow = std::min({extra / 2 + 1, g.left() - left, right - g.right()});
            g.adjust(-std::max(0, grow), 0, std::max(0, grow), 0);
        } else if (c->kind == ControlKind::kLabelRight) {
            g.setLeft(std::max(left, g.left() - extra));
        } else {
            g.setRight(std::min(right, g.right() + extra));
        }
        w->setGeometry(g);
    }
}

int QtDialog::exec() {
    logic_.onInit(*this);
    if (init_) {
        init_(*this);
    }
    if (ended_) {
        return result_;
    }
    // The keyboard starts on the first enabled tab stop, as in any dialog.
    for (const ControlLayout& c : layout_.controls) {
        QWidget* w = widget(c.id);
        if ((c.style & style::kTabStop) != 0 && w != nullptr && w->isEnabled() && !w->isHidden()) {
            w->setFocus(Qt::TabFocusReason);
            break;
        }
    }
    if (QWidget* owner = window_->parentWidget()) {
        // Secondary dialogs open at (32, 32) dialog units from the owner's client area.
        window_->move(owner->mapToGlobal(QPoint(units_.x(layout_.x), units_.y(layout_.y))));
    }
    if (shown_) {
        QTimer::singleShot(0, window_, [this] {
            if (!ended_) {
                shown_(*this);
            }
        });
    }
    window_->exec();
    ended_ = true;
    return result_;
}

QWidget* QtDialog::widget(ControlId id) const {
    const auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second;
}

void QtDialog::command(ControlId id, int notification) {
    if (ended_ || programmatic_) {
        return;
    }
    if (commandHook_) {
        commandHook_(id, notification);
    }
    static_cast<void>(logic_.onCommand(*this, id, notification));
}

void QtDialog::fieldLeft(QWidget* field) {
    // Only edit fields report losing the focus; to every other control any notification is a
    // click.
    if (qobject_cast<QLineEdit*>(field) == nullptr) {
        return;
    }
    const auto it = ids_.find(field);
    if (it != ids_.end()) {
        command(it->second, notify::kKillFocus);
    }
}

void QtDialog::endTrack(ControlId id) {
    endTrackQueued_[id] = false;
    if (!ended_ && hScroll_) {
        hScroll_(kScrollEndTrack, id);
    }
}

void QtDialog::queueEndTrack(ControlId id) {
    // Several steps of one key press or wheel turn end in one report, once the value has settled.
    if (endTrackQueued_[id]) {
        return;
    }
    endTrackQueued_[id] = true;
    QTimer::singleShot(0, window_, [this, id] {
        if (endTrackQueued_[id]) {
            endTrack(id);
        }
    });
}

void QtDialog::sliderKeyDown(QWidget* widget, const QKeyEvent& key) {
    const auto it = ids_.find(widget);
    if (it == ids_.end() || qobject_cast<QSlider*>(widget) == nullptr) {
        return;
    }
    switch (key.key()) {
        case Qt::Key_Left:
        case Qt::Key_Right:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            keysDown_[it->second] = true;
            break;
        default:
            break;
    }
}

void QtDialog::sliderKeyUp(QWidget* widget) {
    const auto it = ids_.find(widget);
    if (it != ids_.end() && keysDown_[it->second]) {
        keysDown_[it->second] = false;
        queueEndTrack(it->second);
    }
}

void QtDialog::closeRequested() {
    if (ended_) {
        return;
    }
    // Closing leaves the field being edited: it is reported before the dialog ends.
    if (QWidget* focus = window_->focusWidget()) {
        fieldLeft(focus);
    }
    if (!ended_) {
        logic_.onClose(*this);
    }
}

// --- ControlModel ---------------------------------------------------------------------------

void QtDialog::setText(ControlId id, const std::string& text) {
    QWidget* w = widget(id);
    programmatic_ = true;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(qs(text));
        edit->setCursorPosition(0);
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        label->setText(qs(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        button->setText(qs(text));
    } else if (auto* group = dynamic_cast<GroupFrame*>(w)) {
        group->setTitle(qs(text));
    }
    programmatic_ = false;
}

std::string QtDialog::text(ControlId id) const {
    QWidget* w = widget(id);
    QString t;
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        t = edit->text();
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
        t = label->text();
    } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
        t = button->text();
    } else if (auto* group = dynamic_cast<GroupFrame*>(w)) {
        t = group->title();
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        t = combo->currentText();
    }
    return t.toStdString();
}

void QtDialog::setUnsigned(ControlId id, uint32_t value) {
    setText(id, std::to_string(value));
}

void QtDialog::setSigned(ControlId id, int32_t value) {
    setText(id, std::to_string(value));
}

IntRead QtDialog::readUnsigned(ControlId id) const {
    return readFieldNumber(text(id), false);
}

IntRead QtDialog::readSigned(ControlId id) const {
    return readFieldNumber(text(id), true);
}

void QtDialog::setChecked(ControlId id, bool checked) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget(id))) {
        programmatic_ = true;
        button->setChecked(checked);
        programmatic_ = false;
    }
}

bool QtDialog::isChecked(ControlId id) const {
    auto* button = qobject_cast<QAbstractButton*>(widget(id));
    return button != nullptr && button->isChecked();
}

void QtDialog::setSliderRange(ControlId id, int minimum, int maximum) {
    if (auto* slider = qobject_cast<QSlider*>(widget(id))) {
        programmatic_ = true;
        slider->setRange(minimum, maximum);
        // A page is a fifth of the range, as on a Win32 trackbar.
        slider->setPageStep(std::max(1, (maximum - minimum) / 5));
        programmatic_ = false;
    }
}

void QtDialog::setSliderPos(ControlId id, int position) {
    if (auto* slider = qobject_cast<QSlider*>(widget(id))) {
        programmatic_ = true;
        slider->setValue(position);
        programmatic_ = false;
    }
}

int QtDialog::sliderPos(ControlId id) const {
    auto* slider = qobject_cast<QSlider*>(widget(id));
    return slider != nullptr ? slider->value() : 0;
}

void QtDialog::addItem(ControlId id, const std::string& text) {
    auto* combo = qobject_cast<QComboBox*>(widget(id));
    if (combo == nullptr) {
        return;
    }
    const int index = itemCounts_[id]++;
    const auto rows = rows_.find(id);
    programmatic_ = true;
    if (rows == rows_.end()) {
        combo->addItem(qs(text));
    } else {
        // The item's row goes where the rows' order puts it among the rows already shown.
        int at = 0;
        for (const ItemRow& row : rows->second) {
            if (row.item == index) {
                combo->insertItem(at, qs(row.label), row.item);
                if (!row.toolTip.empty()) {
                    combo->setItemData(at, qs(row.toolTip), Qt::ToolTipRole);
                }
                break;
            }
            at += row.item < index ? 1 : 0;
        }
    }
    programmatic_ = false;
}

void QtDialog::setItemRows(ControlId id, std::vector<ItemRow> rows) {
    rows_[id] = std::move(rows);
    if (itemCounts_[id] > 0) {
        showRows(id);
    }
}

void QtDialog::showRows(ControlId id) {
    auto* combo = qobject_cast<QComboBox*>(widget(id));
    if (combo == nullptr) {
        return;
    }
    const int selected = selection(id);
    programmatic_ = true;
    combo->clear();
    for (const ItemRow& row : rows_[id]) {
        if (row.item >= 0 && row.item < itemCounts_[id]) {
            combo->addItem(qs(row.label), row.item);
            if (!row.toolTip.empty()) {
                combo->setItemData(combo->count() - 1, qs(row.toolTip), Qt::ToolTipRole);
            }
        }
    }
    programmatic_ = false;
    setSelection(id, selected);
}

void QtDialog::setDropDownHook(ControlId id, std::function<void()> hook) {
    if (auto* combo = dynamic_cast<DropDown*>(widget(id))) {
        combo->opening = std::move(hook);
    }
}

void QtDialog::setSelection(ControlId id, int index) {
    if (auto* table = qobject_cast<QTableWidget*>(widget(id))) {
        programmatic_ = true;
        if (index >= 0 && index < table->rowCount()) {
            table->selectRow(index);
            table->setCurrentCell(index, 0);
        } else {
            table->clearSelection();
        }
        programmatic_ = false;
        return;
    }
    if (auto* combo = qobject_cast<QComboBox*>(widget(id))) {
        int row = index < combo->count() ? index : -1;
        if (rows_.count(id) != 0) {
            row = index < 0 ? -1 : combo->findData(index);
        }
        programmatic_ = true;
        combo->setCurrentIndex(row);
        programmatic_ = false;
        combo->setToolTip(combo->currentData(Qt::ToolTipRole).toString());
    }
}

int QtDialog::selection(ControlId id) const {
    if (auto* table = qobject_cast<QTableWidget*>(widget(id))) {
        const QList<QTableWidgetSelectionRange> ranges = table->selectedRanges();
        return ranges.isEmpty() ? -1 : ranges.front().topRow();
    }
    auto* combo = qobject_cast<QComboBox*>(widget(id));
    if (combo == nullptr || combo->currentIndex() < 0) {
        return -1;
    }
    return rows_.count(id) != 0 ? combo->currentData().toInt() : combo->currentIndex();
}

void QtDialog::setEnabled(ControlId id, bool enabled) {
    if (QWidget* w = widget(id)) {
        w->setEnabled(enabled);
    } else if (QAction* a = action(id)) {
        a->setEnabled(enabled);
    }
}

bool QtDialog::isEnabled(ControlId id) const {
    if (QAction* a = action(id)) {
        return a->isEnabled();
    }
    QWidget* w = widget(id);
    return w != nullptr && w->isEnabled();
}

void QtDialog::setImage(ControlId id, int imageId) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget(id))) {
        button->setIcon(arrowIcon(imageId));
    }
}

int QtDialog::runModal(DialogLogic& dialog) {
    const DialogLayout* layout = findDialogLayout(dialog.dialogId());
    if (layout == nullptr || ended_) {
        return 0;
    }
    QtDialog child(*layout, dialog, window_);
    child.setUrlOpener(urlOpener_);
    child.setFileChooser(fileChooser_);
    child_ = &child;
    const int result = child.exec();
    child_ = nullptr;
    return result;
}

void QtDialog::endDialog(int result) {
    if (ended_) {
        return;
    }
    ended_ = true;
    result_ = result;
    window_->done(result);
}

void QtDialog::openUrl(const std::string& url) {
    if (urlOpener_) {
        urlOpener_(url);
        return;
    }
    QDesktopServices::openUrl(QUrl(qs(url)));
}

void QtDialog::setColumns(ControlId id, const std::vector<std::string>& headings) {
    auto* table = qobject_cast<QTableWidget*>(widget(id));
    if (table == nullptr) {
        return;
    }
    headings_[id] = headings;
    QStringList labels;
    for (const std::string& h : headings) {
        labels << qs(h);
    }
    programmatic_ = true;
    table->setColumnCount(static_cast<int>(headings.size()));
    table->setHorizontalHeaderLabels(labels);
    programmatic_ = false;
}

void QtDialog::setRows(ControlId id, const std::vector<std::vector<std::string>>& rows) {
    auto* table = qobject_cast<QTableWidget*>(widget(id));
    if (table == nullptr) {
        return;
    }
    const std::vector<std::string>& headings = headings_[id];
    programmatic_ = true;
    table->clearContents();
    table->setRowCount(static_cast<int>(rows.size()));
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t col = 0; col < headings.size(); ++col) {
            const std::string cell = col < rows[r].size() ? rows[r][col] : std::string();
            auto* item = new QTableWidgetItem(qs(cell));
            // A screen reader hears which row and column a value belongs to, not just the value.
            const std::string rowName = rows[r].empty() ? std::string() : rows[r][0];
            const std::string name = col == 0 ? cell : rowName + ", " + headings[col] + ": " + cell;
            item->setData(Qt::AccessibleTextRole, qs(name));
            table->setItem(static_cast<int>(r), static_cast<int>(col), item);
        }
    }
    table->clearSelection();
    // The header and the cells are measured together: the widest of them sets the column.
    table->resizeColumnsToContents();
    for (int col = 0; col < table->columnCount(); ++col) {
        table->setColumnWidth(col, columnWidth(table->columnWidth(col), units_.x(kColumnAir),
                                               units_.x(kColumnMinWidth)));
    }
    programmatic_ = false;
}

void QtDialog::setVisible(ControlId id, bool visible) {
    if (QWidget* w = widget(id)) {
        w->setVisible(visible);
        const ControlLayout* c = findControl(layout_, id);
        if (c != nullptr && (c->style & style::kCollapse) != 0) {
            arrange();
        }
    } else if (QAction* a = action(id)) {
        a->setVisible(visible);
    }
}

void QtDialog::arrange() {
    // Each control is placed from where it was built (with its text fitted), moved by what the
    // hidden rows change of its top and bottom edges.
    if (built_.empty()) {
        for (const auto& [id, w] : widgets_) {
            built_[id] = w->geometry();
        }
    }
    const auto hidden = [this](ControlId id) {
        const QWidget* w = widget(id);
        return w != nullptr && w->isHidden();
    };
    for (const ControlLayout& c : layout_.controls) {
        QWidget* w = widget(c.id);
        const auto at = built_.find(c.id);
        if (w == nullptr || at == built_.end()) {
            continue;
        }
        const Rect from = visibleRect(c);
        const Rect to = arrangedRect(layout_, c, hidden);
        QRect g = at->second;
        g.setTop(g.top() + units_.y(to.y) - units_.y(from.y));
        g.setBottom(g.bottom() + units_.y(to.y + to.h) - units_.y(from.y + from.h));
        w->setGeometry(g);
    }
}

std::string QtDialog::chooseFile(FileChoice choice, const std::string& suggestedName) {
    if (fileChooser_) {
        return fileChooser_(choice, suggestedName);
    }
    const QString filter = QStringLiteral("Vornic settings (*.json);;All files (*)");
    const QString path =
        choice == FileChoice::kSave
            ? QFileDialog::getSaveFileName(window_, QStringLiteral("Back up to file"),
                                           QDir::home().filePath(qs(suggestedName)), filter)
            : QFileDialog::getOpenFileName(window_, QStringLiteral("Choose a settings file"),
                                           QDir::homePath(), filter);
    return path.toStdString();
}

}  // namespace vornic::ui::qt
