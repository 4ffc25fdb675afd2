// Start-up timing, the baseline: a bare Qt program that shows one window of
// the same size and ends the process once it is painted, as the kit's
// display does with TAMSEL_EXIT_WHEN_SHOWN=1.
#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

class Window : public QWidget {
protected:
	void paintEvent(QPaintEvent* event) override
	{
		QWidget::paintEvent(event);
		std::fflush(nullptr);
		std::_Exit(0);
	}
};

} // namespace

int main(int argc, char** argv)
{
	QApplication app(argc, argv);
	Window window;
	window.setWindowTitle(QStringLiteral("Start-up"));
	window.setGeometry(100, 100, 400, 300);
	window.setFixedSize(400, 300);
	window.setAutoFillBackground(true);
	window.show();
	return app.exec();
}
