#include "SegmentJoiner.h"

#include <algorithm>

namespace gogo {

SegmentJoiner::SegmentJoiner(Mp3Repacker::Sink sink, int overlapFrames)
	:
	fRepacker([this](const unsigned char* data, size_t size) {
		fCrc = LameCrc(data, size, fCrc);
		if (!fSink(data, size)) {
			fSinkFailed = true;
			return false;
		}
		return true;
	}),
	fSink(std::move(sink)),
	fOverlap(overlapFrames > 0 ? overlapFrames : 1)
{
}

bool SegmentJoiner::Place(Mp3Frame& frame)
{
	switch (fRepacker.Add(frame, true)) {
	case Mp3Repacker::Placed::Enlarged:
		fEnlarged++;
		[[fallthrough]];
	case Mp3Repacker::Placed::AsItWas:
		fTable.Add(frame.header.bitrateKbps);
		fNext++;
		return true;
	case Mp3Repacker::Placed::NoRoom:
	case Mp3Repacker::Placed::SinkFailed:
		break;
	}
	return false;
}

bool SegmentJoiner::Add(int64_t first, int64_t plannedEnd, std::vector<Mp3Frame> frames)
{
	if (!fStarted) {
		if (first != 0)
			return false;
		fStarted = true;
		fHeld = std::move(frames);
		fHeldFirst = 0;
	} else {
		if (first > fNext)
			return false; // the held segment ends short of this one's start: a gap
		const int64_t count = static_cast<int64_t>(frames.size());
		const int64_t heldCount = static_cast<int64_t>(fHeld.size());
		int64_t at = fNext;
		while (true) {
			const bool haveNew = at >= first && at - first < count;
			const bool haveHeld = at - fHeldFirst < heldCount;
			if (!haveNew && !haveHeld)
				return false;
			if (haveNew) {
				const Mp3Frame& next = frames[static_cast<size_t>(at - first)];
				const bool forGood = fRepacker.Reservoir(next.header) >= next.mainDataBegin;
				// Alike, reservoir included: the two encoders have met.
				const Mp3Frame* held = haveHeld ? &fHeld[static_cast<size_t>(at - fHeldFirst)] : nullptr;
				const bool alike = held != nullptr && next.SameAudio(*held)
					&& next.mainDataBegin == held->mainDataBegin;
				const bool lastChance = !haveHeld || at - fHeldFirst + 1 >= heldCount
					|| at + 1 - first >= fOverlap || at + 1 - first >= count;
				if ((forGood && (alike || at - first >= fOverlap / 2)) || lastChance)
					break;
			}
			if (!Place(fHeld[static_cast<size_t>(at - fHeldFirst)]))
				return false;
			at++;
		}
		fJoins.push_back(at);
		fHeld = std::move(frames);
		fHeldFirst = first;
	}
	const int64_t heldEnd = fHeldFirst + static_cast<int64_t>(fHeld.size());
	const int64_t end = plannedEnd < 0 ? heldEnd : std::min(plannedEnd, heldEnd);
	while (fNext < end) {
		if (!Place(fHeld[static_cast<size_t>(fNext - fHeldFirst)]))
			return false;
	}
	// Only the overlap is needed any more.
	if (plannedEnd < 0) {
		fHeld.clear();
	} else if (fNext > fHeldFirst) {
		fHeld.erase(fHeld.begin(), fHeld.begin() + static_cast<std::ptrdiff_t>(fNext - fHeldFirst));
		fHeldFirst = fNext;
	}
	return true;
}

bool SegmentJoiner::Finish()
{
	fHeld.clear();
	return fRepacker.Finish();
}

} // namespace gogo
