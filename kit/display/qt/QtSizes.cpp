// Preferred sizes, the tab height and string widths: measured on the main
// thread with Qt's widgets (each kind measures its own, see kinds/), cached,
// and from fixed metrics only when the display never comes to serve.
#include "QtDisplayImpl.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QTabBar>

namespace BPrivate {

PreferredSize QtDisplay::Impl::FixedSize(const SizeQuery& query)
{
	return QtViewKindFor(query.kind).FixedSize(query);
}

PreferredSize QtDisplay::Impl::ComputeSize(const SizeQuery& query)
{
	EnsureApplication();
	return QtViewKindFor(query.kind).MeasuredSize(query);
}

float QtDisplay::Impl::ComputeTabHeight()
{
	{
		std::lock_guard guard(lock);
		if (tabHeight >= 0)
			return tabHeight;
	}
	EnsureApplication();
	QTabBar bar;
	bar.addTab(QStringLiteral("Tab"));
	float height = float(bar.sizeHint().height());
	std::lock_guard guard(lock);
	tabHeight = height;
	return height;
}

float QtDisplay::Impl::ComputeStringWidth(const std::string& text)
{
	EnsureApplication();
	return float(QFontMetricsF(QApplication::font()).horizontalAdvance(QString::fromStdString(text)));
}

PreferredSize QtDisplay::GetPreferredSize(const SizeQuery& query)
{
	SizeKey key{query.kind, query.label, query.text, query.divider, query.frame.Width(),
		query.frame.Height(), query.tabLabels};
	{
		std::lock_guard guard(fImpl->lock);
		auto it = fImpl->sizeCache.find(key);
		if (it != fImpl->sizeCache.end())
			return it->second;
	}
	PreferredSize size;
	bool measured = true;
	if (Impl::OnMainThread())
		size = fImpl->ComputeSize(query);
	else if (!fImpl->Call([&] { size = fImpl->ComputeSize(query); })) {
		size = Impl::FixedSize(query);
		measured = false;
	}
	if (measured) {
		std::lock_guard guard(fImpl->lock);
		fImpl->sizeCache[key] = size;
	}
	return size;
}

float QtDisplay::TabHeight()
{
	{
		std::lock_guard guard(fImpl->lock);
		if (fImpl->tabHeight >= 0)
			return fImpl->tabHeight;
	}
	float height = 0;
	if (Impl::OnMainThread())
		return fImpl->ComputeTabHeight();
	if (fImpl->Call([&] { height = fImpl->ComputeTabHeight(); }))
		return height;
	return kFixedLineHeight + 10;
}

float QtDisplay::StringWidth(const std::string& text)
{
	{
		std::lock_guard guard(fImpl->lock);
		auto it = fImpl->widthCache.find(text);
		if (it != fImpl->widthCache.end())
			return it->second;
	}
	float width = 0;
	if (Impl::OnMainThread())
		width = fImpl->ComputeStringWidth(text);
	else if (!fImpl->Call([&] { width = fImpl->ComputeStringWidth(text); }))
		return kFixedCharWidth * float(text.size());
	std::lock_guard guard(fImpl->lock);
	// Bounded: file names pass through here, and there can be many.
	if (fImpl->widthCache.size() >= 4096)
		fImpl->widthCache.clear();
	fImpl->widthCache[text] = width;
	return width;
}

} // namespace BPrivate
