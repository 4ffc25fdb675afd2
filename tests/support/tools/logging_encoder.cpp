// An encoder for load tests that exits at once: it appends its last argument
// and a newline to the file named by TAMSEL_ENCODER_LOG, in one write so that
// the lines of quick successors never mix.

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

int main(int argc, char** argv)
{
	const char* log = std::getenv("TAMSEL_ENCODER_LOG");
	if (log == nullptr || argc < 2)
		return 2;
	std::string line = argv[argc - 1];
	line += '\n';
	const int fd = open(log, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
	if (fd < 0)
		return 1;
	const bool written = write(fd, line.data(), line.size()) == ssize_t(line.size());
	close(fd);
	return written ? 0 : 1;
}
