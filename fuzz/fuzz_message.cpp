// BMessage field access driven by the input: adds, finds, replaces and
// removes with a few names, every type and any index.
#include <Message.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

const char* const kNames[] = {"refs", "name", "be:ref", "", "x"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
	BMessage message('TEST');
	size_t i = 0;
	auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
	while (i < size) {
		const uint8_t op = next();
		const char* name = kNames[next() % 5];
		const int32 index = int32(int8_t(next()));
		const int32 value = int32(next()) << 8 | next();
		switch (op % 16) {
			case 0: message.AddInt32(name, value); break;
			case 1: message.AddBool(name, value & 1); break;
			case 2: message.AddString(name, std::string(size_t(value % 64), 'a').c_str()); break;
			case 3: {
				entry_ref ref(1, value, "leaf", "/tmp");
				message.AddRef(name, &ref);
				break;
			}
			case 4: message.AddPointer(name, &message); break;
			case 5: { int32 out; message.FindInt32(name, index, &out); break; }
			case 6: { bool out; message.FindBool(name, index, &out); break; }
			case 7: {
				const char* out = nullptr;
				if (message.FindString(name, index, &out) == B_OK && out == nullptr)
					std::abort();
				break;
			}
			case 8: { entry_ref out; message.FindRef(name, index, &out); break; }
			case 9: message.ReplaceInt32(name, index, value); break;
			case 10: message.ReplaceString(name, index, "replaced"); break;
			case 11: message.RemoveData(name, index); break;
			case 12: message.RemoveName(name); break;
			case 13: { BMessage copy(message); message = copy; break; }
			case 14: { type_code type; int32 count; message.GetInfo(name, &type, &count); break; }
			case 15: message.MakeEmpty(); break;
		}
	}
	return 0;
}
