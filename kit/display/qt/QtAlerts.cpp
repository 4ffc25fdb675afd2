// Alerts: one message box each, its buttons in the order given. A text too
// long or too wide for the screen scrolls inside the box.
#include "QtDisplayImpl.h"

#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>

#include <algorithm>

namespace BPrivate {

namespace {

// What the screen keeps for the rest of the box around its text (the icon,
// the buttons, the margins) and for the window's frame.
constexpr int kScreenKept = 200;
// The widest text a message box shows as it is: past about 500 pixels for
// the whole box it wraps the text, and the box grows taller than the text.
constexpr int kUnwrappedWidth = 400;

// The box's own label moves into a scroll area in its place, as wide as an
// alert's text may be and as tall as the wrapped text up to the most it may
// take. The label keeps its name and its text, so that the box (and what a
// screen reader says of it) reads the same; a short text stays as the box
// lays it out.
void BoundText(QMessageBox* box)
{
	auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
	auto* grid = qobject_cast<QGridLayout*>(box->layout());
	if (label == nullptr || grid == nullptr)
		return;
	const QScreen* screen = box->screen();
	const QSize room = screen != nullptr ? screen->availableGeometry().size() : QSize(1024, 768);
	const int maxWidth = std::max(100, std::min(int(kAlertTextMaxWidth), room.width() - kScreenKept));
	const int maxHeight
		= std::max(60, std::min(int(kAlertTextMaxHeight), room.height() - kScreenKept));

	label->ensurePolished();
	auto* scroll = box->findChild<QScrollArea*>(QStringLiteral("AlertText"));
	if (scroll == nullptr) {
		label->setWordWrap(false);
		const QSize natural = label->sizeHint();
		if (natural.width() <= kUnwrappedWidth && natural.height() <= maxHeight)
			return;
		scroll = new QScrollArea(box);
		scroll->setObjectName(QStringLiteral("AlertText"));
		scroll->setFrameShape(QFrame::NoFrame);
		scroll->setWidgetResizable(true);
	}
	if (label->parentWidget() != scroll->viewport()) {
		// Also when the box has laid itself out anew with the label in its
		// own place again.
		if (grid->indexOf(label) >= 0)
			delete grid->replaceWidget(label, scroll);
		scroll->takeWidget();
		scroll->setWidget(label);
	}

	// The box turns wrapping on for a text this wide; it is on while measuring.
	label->setWordWrap(true);
	const int bar = scroll->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, scroll);
	int width = maxWidth;
	int height = label->heightForWidth(width);
	if (height > maxHeight) {
		width -= bar;
		height = label->heightForWidth(width);
	}
	// A word wider than the room (a long name) scrolls sideways.
	if (label->minimumSizeHint().width() > width)
		height += bar;
	scroll->setFixedSize(maxWidth, std::min(height, maxHeight));
}

// A style change lays the box out anew (QMessageBox sets its icon again),
// which puts the label back where it was: the text is bounded again, and
// setting it again sizes the box again.
class KitMessageBox : public QMessageBox {
protected:
	void changeEvent(QEvent* event) override
	{
		QMessageBox::changeEvent(event);
		if (event->type() == QEvent::StyleChange
			&& findChild<QScrollArea*>(QStringLiteral("AlertText")) != nullptr) {
			BoundText(this);
			setText(text());
		}
	}
};

} // namespace

void QtDisplay::Impl::ShowAlertNow(int32 id, AlertRequest request, std::function<void(int32)> answer)
{
	auto* box = new KitMessageBox();
	box->setWindowTitle(QString::fromStdString(request.title));
	box->setTextFormat(Qt::PlainText);
	box->setText(QString::fromStdString(request.text));
	switch (request.icon) {
		case AlertIcon::Info:
		case AlertIcon::Idea:
			box->setIcon(QMessageBox::Information);
			break;
		case AlertIcon::Warning:
			box->setIcon(QMessageBox::Warning);
			break;
		case AlertIcon::Stop:
			box->setIcon(QMessageBox::Critical);
			break;
		case AlertIcon::None:
		default:
			box->setIcon(QMessageBox::NoIcon);
			break;
	}
	AlertRec rec;
	rec.id = id;
	// One role for every button keeps them in the order given.
	for (const std::string& label : request.buttons)
		rec.buttons.push_back(box->addButton(PlainLabel(label), QMessageBox::ActionRole));
	if (!rec.buttons.empty()) {
		box->setEscapeButton(rec.buttons.back());
		box->setDefaultButton(static_cast<QPushButton*>(rec.buttons.back()));
	}
	box->setWindowModality(Qt::ApplicationModal);
	BoundText(box);
	rec.request = std::move(request);
	rec.answer = std::move(answer);
	rec.box = box;
	int64 serial = nextAlertSerial++;
	alerts[serial] = std::move(rec);
	QObject::connect(box, &QDialog::finished, box, [this, serial] { AlertFinished(serial); });
	box->show();
}

void QtDisplay::Impl::AlertFinished(int64 serial)
{
	auto it = alerts.find(serial);
	if (it == alerts.end())
		return;
	AlertRec alert = std::move(it->second);
	alerts.erase(it);
	int32 index = int32(alert.buttons.size()) - 1;
	if (alert.box) {
		QAbstractButton* clicked = alert.box->clickedButton();
		for (size_t i = 0; i < alert.buttons.size(); i++) {
			if (alert.buttons[i] == clicked)
				index = int32(i);
		}
		alert.box->deleteLater();
	}
	if (alert.answer)
		alert.answer(std::max<int32>(index, 0));
}

} // namespace BPrivate
