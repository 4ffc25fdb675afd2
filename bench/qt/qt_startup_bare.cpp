// Start-up timing, the baseline: a bare Qt program that shows one window of
// the same size and ends the process once it is exposed, as the kit's
// display does with TAMSEL_EXIT_WHEN_SHOWN=1.
#include <QApplication>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <cstdlib>

namespace {

class ExposeWatcher : public QObject {
protected:
	bool eventFilter(QObject* object, QEvent* event) override
	{
		if (event->type() == QEvent::Expose && static_cast<QWindow*>(object)->isExposed()) {
			std::fflush(nullptr);
			std::_Exit(0);
		}
		return false;
	}
};

} // namespace

int main(int argc, char** argv)
{
	QApplication app(argc, argv);
	QWidget window;
	window.setWindowTitle(QStringLiteral("Start-up"));
	window.setGeometry(100, 100, 400, 300);
	window.setFixedSize(400, 300);
	window.setAutoFillBackground(true);
	window.show();
	ExposeWatcher watcher;
	window.windowHandle()->installEventFilter(&watcher);
	return app.exec();
}
