// Build step: gives a freshly built program the bundled encoder as its
// "encoder_location" setting, unless it has a setting of its own already, so
// that the program encodes out of the box. The program's own default stays
// what it is.
#include <Node.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
	if (argc != 3) {
		std::fprintf(stderr, "usage: record_encoder PROGRAM ENCODER\n");
		return 2;
	}
	BNode node(argv[1]);
	if (node.InitCheck() != B_OK) {
		std::fprintf(stderr, "record_encoder: cannot open %s\n", argv[1]);
		return 1;
	}
	attr_info info;
	if (node.GetAttrInfo("encoder_location", &info) == B_OK)
		return 0;
	const ssize_t written = node.WriteAttr("encoder_location", B_STRING_TYPE, 0, argv[2],
		std::strlen(argv[2]) + 1);
	if (written < 0) {
		// A file system without user attributes: the program starts with its
		// default and the user points it at the encoder in its options.
		std::fprintf(stderr, "record_encoder: could not store the encoder location on %s\n",
			argv[1]);
	}
	return 0;
}
