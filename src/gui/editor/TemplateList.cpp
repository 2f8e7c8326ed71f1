#include "gui/editor/TemplateList.h"

#include "gui/editor/CodeMemo.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace morvane::editor {

namespace {

constexpr int kNameRole = Qt::UserRole;
constexpr int kDescriptionRole = Qt::UserRole + 1;
constexpr int kMaxVisibleRows = 12;

// Description at 2 pixels from the left, the name in bold in a column of its own.
class TemplateItemDelegate : public QStyledItemDelegate {
public:
    TemplateItemDelegate(QObject* parent, int nameLeft)
        : QStyledItemDelegate(parent), nameLeft_(nameLeft) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        p->save();
        p->fillRect(option.rect, selected ? pal.highlight() : pal.base());
        p->setPen(selected ? pal.highlightedText().color() : pal.text().color());
        QRect r = option.rect;
        QFont font = option.font;
        p->setFont(font);
        p->drawText(r.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                    index.data(kDescriptionRole).toString());
        font.setBold(true);
        p->setFont(font);
        p->drawText(r.adjusted(nameLeft_, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                    index.data(kNameRole).toString());
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        QFont bold = option.font;
        bold.setBold(true);
        return {nameLeft_, QFontMetrics(bold).height() + 2};
    }

private:
    int nameLeft_;
};

// The bytes as the control draws them.
QString Shown(const std::string& bytes) {
    QString s;
    s.reserve(static_cast<qsizetype>(bytes.size()));
    bool control = false;
    for (char c : bytes)
        s.append(GlyphOf(static_cast<unsigned char>(c), &control));
    return s;
}

} // namespace

TTemplateList::TTemplateList(QWidget* parent, std::function<void(const std::string&)> chosen,
                             std::function<void()> closed)
    : QListWidget(parent), chosen_(std::move(chosen)), closed_(std::move(closed)) {
    setObjectName("TemplateList");
    QFont font("Arial");
    font.setPointSize(8);
    setFont(font);
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Plain);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hide();
    connect(this, &QListWidget::itemDoubleClicked, this, [this] { Choose(); });
}

void TTemplateList::Open(const TTemplatePopup& popup, QPoint at, int lineHeight) {
    clear();
    QFont bold = font();
    bold.setBold(true);
    QFontMetrics normal(font()), strong(bold);
    int widestDescription = 0, widestName = 0;
    std::vector<std::string> names;
    for (const TTemplatePopup::Item& item : popup.items) {
        QString description = Shown(item.description);
        QString name = Shown(item.name);
        widestDescription = std::max(widestDescription, normal.horizontalAdvance(description));
        widestName = std::max(widestName, strong.horizontalAdvance(name));
        auto* row = new QListWidgetItem(this);
        row->setData(kNameRole, name);
        row->setData(kDescriptionRole, description);
        row->setData(Qt::UserRole + 2, QByteArray::fromStdString(item.name));
        names.push_back(item.name);
    }
    setItemDelegate(new TemplateItemDelegate(this, widestDescription + 24));
    search_.emplace(std::move(names));

    int rowHeight = strong.height() + 2;
    int rows = std::min<int>(static_cast<int>(popup.items.size()), kMaxVisibleRows);
    int width = widestName + widestDescription + 48;
    int height = rows * rowHeight + 2 * frameWidth();
    if (static_cast<int>(popup.items.size()) > kMaxVisibleRows) {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        width += verticalScrollBar()->sizeHint().width();
    } else {
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    }
    QWidget* host = parentWidget();
    width = std::min(width, std::max(host->width(), 40));
    QPoint place(at.x(), at.y() + lineHeight);
    if (place.y() + height > host->height() && at.y() - height >= 0) place.setY(at.y() - height);
    place.setX(std::max(0, std::min(place.x(), host->width() - width)));
    setGeometry(QRect(place, QSize(width, height)));
    if (popup.preselected >= 0) setCurrentRow(popup.preselected);
    open_ = true;
    show();
    raise();
    setFocus(Qt::PopupFocusReason);
}

void TTemplateList::Close() {
    if (!open_) return;
    open_ = false;
    hide();
    if (parentWidget()) parentWidget()->setFocus(Qt::OtherFocusReason);
    if (closed_) closed_();
}

void TTemplateList::Choose() {
    QListWidgetItem* item = currentItem();
    if (!item || !open_) return;
    std::string name = item->data(Qt::UserRole + 2).toByteArray().toStdString();
    // The list closes first, so the control has the focus back when the text changes; the
    // selection it collapses on closing is the one the expansion replaced.
    open_ = false;
    hide();
    if (parentWidget()) parentWidget()->setFocus(Qt::OtherFocusReason);
    if (chosen_) chosen_(name);
    if (closed_) closed_();
}

void TTemplateList::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        Choose();
        event->accept();
        return;
    case Qt::Key_Escape:
        Close();
        event->accept();
        return;
    default:
        break;
    }
    const QString text = event->text();
    if (!(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && text.size() == 1 &&
        text[0].isPrint() && search_) {
        int found = search_->Type(text[0].toLatin1());
        if (found >= 0) setCurrentRow(found);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

void TTemplateList::focusOutEvent(QFocusEvent* event) {
    QListWidget::focusOutEvent(event);
    // A popup of the list's own (a scroll bar's menu) is not leaving it.
    if (event->reason() == Qt::PopupFocusReason) return;
    Close();
}

} // namespace morvane::editor
