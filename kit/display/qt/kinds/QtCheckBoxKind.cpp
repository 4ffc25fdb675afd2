// A check box (BCheckBox): the user's click is K_INPUT_INVOKE with the new
// "value".
#include "QtDisplayImpl.h"

#include <InterfaceDefs.h>

#include <QCheckBox>

namespace BPrivate {

namespace {

class CheckBoxKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl& display, WindowRec& window, ViewRec*,
		QWidget* parent, const ViewState& state) const override
	{
		auto rec = std::make_unique<ViewRec>();
		auto* box = new QCheckBox(parent);
		// clicked, not toggled: only the user's clicks are input.
		QObject::connect(box, &QCheckBox::clicked, box,
			[impl = &display, wid = window.id, vid = state.id](bool checked) {
				ViewRec* view = impl->FindView(wid, vid);
				if (!view || view->applying)
					return;
				// The client takes the user's value without sending it back;
				// what we remember of its state follows, so that a later
				// change is told apart from this one.
				view->state.value = checked ? B_CONTROL_ON : B_CONTROL_OFF;
				BMessage message(K_INPUT_INVOKE);
				message.AddInt32("value", view->state.value);
				impl->PostInput(wid, vid, std::move(message));
			});
		rec->widget = box;
		return rec;
	}

	void Update(QtDisplay::Impl&, WindowRec&, ViewRec& view, const ViewState& old,
		bool created) const override
	{
		const ViewState& state = view.state;
		auto* box = static_cast<QCheckBox*>(view.widget.data());
		if (created || old.label != state.label)
			box->setText(PlainLabel(state.label));
		if (created || old.value != state.value)
			box->setChecked(state.value != B_CONTROL_OFF);
	}

	PreferredSize MeasuredSize(const SizeQuery& query) const override
	{
		QCheckBox box(PlainLabel(query.label));
		return BeSize(box.sizeHint());
	}

	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		float labelWidth = kFixedCharWidth * float(query.label.size());
		return {labelWidth + 22 - 1, kFixedLineHeight + 4 - 1};
	}
};

} // namespace

const QtViewKind& QtCheckBoxKind()
{
	static const CheckBoxKind kind;
	return kind;
}

} // namespace BPrivate
