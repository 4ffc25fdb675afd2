// A string view (BStringView): one line of plain text.
#include "QtDisplayImpl.h"

#include <QLabel>

#include <algorithm>

namespace BPrivate {

namespace {

class StringViewKind : public QtViewKind {
public:
	std::unique_ptr<ViewRec> Create(QtDisplay::Impl&, WindowRec&, ViewRec*, QWidget* parent,
		const ViewState&) const override
	{
		auto rec = std::make_unique<ViewRec>();
		auto* label = new QLabel(parent);
		label->setTextFormat(Qt::PlainText);
		label->setWordWrap(false);
		label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
		rec->widget = label;
		return rec;
	}

	void Update(QtDisplay::Impl&, WindowRec&, ViewRec& view, const ViewState& old,
		bool created) const override
	{
		const ViewState& state = view.state;
		if (created || old.text != state.text)
			static_cast<QLabel*>(view.widget.data())->setText(QString::fromStdString(state.text));
	}

	PreferredSize MeasuredSize(const SizeQuery& query) const override
	{
		QLabel label(QString::fromStdString(query.text.empty() ? query.label : query.text));
		label.setTextFormat(Qt::PlainText);
		return BeSize(label.sizeHint());
	}

	PreferredSize FixedSize(const SizeQuery& query) const override
	{
		float labelWidth = kFixedCharWidth * float(query.label.size());
		float textWidth = kFixedCharWidth * float(query.text.size());
		return {std::max(textWidth, labelWidth) - 1, kFixedLineHeight + 2 - 1};
	}
};

} // namespace

const QtViewKind& QtStringViewKind()
{
	static const StringViewKind kind;
	return kind;
}

} // namespace BPrivate
