// A text control: the label left of the divider, the field right of it (or
// where the client's text view frame says). Every edit by the user is
// K_INPUT_TEXT with the whole new text.
#include "QtTextControlKind.h"

#include "QtDisplayImpl.h"

#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <algorithm>
#include <cmath>

namespace BPrivate {

namespace {

// Text fields count their limit in UTF-8 bytes; QLineEdit's own limit
// counts characters, which lets "é" through twice as often.
class ByteLimitValidator : public QValidator {
public:
	explicit ByteLimitValidator(QObject* parent) : QValidator(parent) {}
	void SetLimit(int32 limit) { fLimit = limit; }
	State validate(QString& input, int&) const override
	{
		if (fLimit > 0 && input.toUtf8().size() > fLimit)
			return Invalid;
		return Acceptable;
	}

private:
	int32 fLimit = 0;
};

class TextControlKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl& display, WindowRec& window, ViewRec*,
		QWidget* parent, const ViewState& state) const override
	{
		auto rec = std::make_unique<TextControlRec>();
		rec->widget = new QWidget(parent);
		rec->label = new QLabel(rec->widget);
		rec->label->setTextFormat(Qt::PlainText);
		rec->edit = new QLineEdit(rec->widget);
		rec->edit->setValidator(new ByteLimitValidator(rec->edit));
		rec->label->setBuddy(rec->edit);
		// setText never emits textEdited, so the client's own changes
		// are not sent back.
		QObject::connect(rec->edit, &QLineEdit::textEdited, rec->edit,
			[impl = &display, wid = window.id, vid = state.id](const QString& text) {
				ViewRec* view = impl->FindView(wid, vid);
				if (!view || view->applying)
					return;
				view->state.text = text.toStdString();
				BMessage message(K_INPUT_TEXT);
				message.AddString("text", view->state.text);
				impl->PostInput(wid, vid, std::move(message));
			});
		display.InstallDropTarget(rec->edit, window.id);
		return rec;
	}

	void Update(QtDisplay::Impl&, WindowRec&, ViewRec& rec, const ViewState& old,
		bool created) const override
	{
		auto& view = static_cast<TextControlRec&>(rec);
		const ViewState& state = view.state;
		QWidget* widget = view.widget;
		QString label = QString::fromStdString(state.label);
		QRect bounds(0, 0, widget->width(), widget->height());
		int divider = std::clamp(int(std::lround(state.divider)), 0, bounds.width());

		view.label->setText(PlainLabel(state.label));
		view.label->setVisible(!state.label.empty());
		view.label->setGeometry(0, 0, divider, bounds.height());
		if (state.textViewFrame.IsValid())
			view.edit->setGeometry(ToQRect(state.textViewFrame));
		else
			view.edit->setGeometry(divider, 0, bounds.width() - divider, bounds.height());
		static_cast<ByteLimitValidator*>(const_cast<QValidator*>(view.edit->validator()))
			->SetLimit(state.maxBytes);
		// Only the client's own changes: an update about something else
		// must not undo keys typed since the client last heard.
		if (created || old.text != state.text) {
			QString text = QString::fromStdString(state.text);
			if (view.edit->text() != text)
				view.edit->setText(text);
		}
		view.edit->setAccessibleName(label);
		widget->setAccessibleName(label);
	}

	PreferredSize MeasuredSize(const SizeQuery& query) const override
	{
		QLineEdit edit;
		QLabel label(PlainLabel(query.label));
		int height = std::max(edit.sizeHint().height(), label.sizeHint().height());
		return {query.frame.Width(), float(height - 1)};
	}

	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		return {query.frame.Width(), kFixedLineHeight + 8 - 1};
	}
};

} // namespace

const QtViewKind& QtTextControlKind()
{
	static const TextControlKind kind;
	return kind;
}

} // namespace BPrivate
