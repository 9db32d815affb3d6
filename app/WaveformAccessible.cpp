#include "WaveformAccessible.h"

#include "WaveformStrip.h"

#include <QPointer>
#include <QWindow>

using namespace Qt::Literals::StringLiterals;

namespace {

// One mark of the strip, known by its place among the marks.
class MarkAccessible final : public QAccessibleInterface
{
public:
    MarkAccessible(WaveformStrip* strip, int row) : mStrip(strip), mRow(row) {}

    [[nodiscard]] bool isValid() const override { return mStrip && mRow < mStrip->markCount(); }
    [[nodiscard]] QObject* object() const override { return nullptr; }
    [[nodiscard]] QWindow* window() const override
    {
        return mStrip ? mStrip->window()->windowHandle() : nullptr;
    }
    [[nodiscard]] QAccessibleInterface* focusChild() const override { return nullptr; }
    [[nodiscard]] QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    [[nodiscard]] QAccessibleInterface* parent() const override
    {
        return mStrip ? QAccessible::queryAccessibleInterface(mStrip.data()) : nullptr;
    }
    [[nodiscard]] QAccessibleInterface* child(int) const override { return nullptr; }
    [[nodiscard]] int childCount() const override { return 0; }
    [[nodiscard]] int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    [[nodiscard]] QString text(QAccessible::Text kind) const override
    {
        if (!isValid())
            return {};
        if (kind == QAccessible::Name)
            return mStrip->markText(mRow);
        if (kind == QAccessible::Description)
            return u"A chapter's mark: drag it to move the chapter"_s;
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    [[nodiscard]] QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect mark = mStrip->markRect(mRow);
        return {mStrip->mapToGlobal(mark.topLeft()), mark.size()};
    }
    [[nodiscard]] QAccessible::Role role() const override { return QAccessible::ListItem; }
    [[nodiscard]] QAccessible::State state() const override
    {
        QAccessible::State state;
        state.focusable = true;
        state.selectable = true;
        if (isValid() && mStrip->chosenRow() == mRow) {
            state.selected = true;
            state.focused = mStrip->hasFocus();
        }
        return state;
    }

private:
    QPointer<WaveformStrip> mStrip;
    int mRow;
};

QAccessibleInterface* factory(const QString& className, QObject* object)
{
    if (className == u"WaveformStrip"_s && object && object->isWidgetType())
        return new WaveformAccessible(static_cast<WaveformStrip*>(object));
    return nullptr;
}

} // namespace

WaveformAccessible::WaveformAccessible(WaveformStrip* strip)
    : QAccessibleWidget(strip, QAccessible::List)
{
}

WaveformAccessible::~WaveformAccessible()
{
    forget();
}

void WaveformAccessible::install()
{
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void WaveformAccessible::marksChanged(WaveformStrip* strip)
{
    if (auto* known =
            dynamic_cast<WaveformAccessible*>(QAccessible::queryAccessibleInterface(strip)))
        known->forget();
}

WaveformStrip* WaveformAccessible::strip() const
{
    return static_cast<WaveformStrip*>(widget());
}

void WaveformAccessible::forget() const
{
    for (const QAccessible::Id id : std::as_const(mChildren))
        QAccessible::deleteAccessibleInterface(id);
    mChildren.clear();
}

int WaveformAccessible::childCount() const
{
    return strip()->markCount();
}

QAccessibleInterface* WaveformAccessible::child(int index) const
{
    if (index < 0 || index >= childCount())
        return nullptr;
    if (const auto known = mChildren.constFind(index); known != mChildren.cend())
        return QAccessible::accessibleInterface(*known);
    auto* made = new MarkAccessible(strip(), index);
    mChildren.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

int WaveformAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    for (auto each = mChildren.cbegin(); each != mChildren.cend(); ++each) {
        if (QAccessible::accessibleInterface(each.value()) == child)
            return each.key();
    }
    return -1;
}

QAccessibleInterface* WaveformAccessible::focusChild() const
{
    return strip()->hasFocus() ? child(strip()->chosenRow()) : nullptr;
}

QAccessibleInterface* WaveformAccessible::childAt(int x, int y) const
{
    for (int row = 0; row < childCount(); ++row) {
        if (QAccessibleInterface* each = child(row); each && each->rect().contains(x, y))
            return each;
    }
    return nullptr;
}

QString WaveformAccessible::text(QAccessible::Text kind) const
{
    if (kind == QAccessible::Value) {
        return u"Cursor at %1"_s.arg(WaveformStrip::timeText(strip()->cursorTime()));
    }
    return QAccessibleWidget::text(kind);
}
