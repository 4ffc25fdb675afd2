#include "SegmentJoiner.h"

#include <algorithm>

namespace gogo {

SegmentJoiner::SegmentJoiner(Mp3Repacker::Sink sink, int overlapFrames, int backFrames)
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
	fOverlap(overlapFrames > 0 ? overlapFrames : 1),
	fBack(backFrames > 0 ? backFrames : 0)
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

int64_t SegmentJoiner::ChooseJoin(int64_t first, int64_t plannedStart, const std::vector<Mp3Frame>& frames,
	bool& found) const
{
	// The stream laid out as far as each candidate, held frames placed as
	// they are, without touching the stream itself.
	Mp3Repacker::Room room = fRepacker.Layout();
	const int64_t count = static_cast<int64_t>(frames.size());
	const int64_t heldCount = static_cast<int64_t>(fHeld.size());
	int64_t fallback = -1;
	found = false;
	for (int64_t at = fNext;; at++) {
		const bool haveNew = at >= first && at - first < count;
		const bool haveHeld = at - fHeldFirst < heldCount;
		if (!haveNew)
			return -1;
		const Mp3Frame& next = frames[static_cast<size_t>(at - first)];
		const bool forGood = room.Reservoir(next.header) >= next.mainDataBegin;
		const bool fits = forGood || room.FitsOnward(frames, static_cast<size_t>(at - first));
		const int64_t offset = at - plannedStart;
		if (offset >= 0) {
			// Alike, reservoir included: the two encoders have met.
			const Mp3Frame* held = haveHeld ? &fHeld[static_cast<size_t>(at - fHeldFirst)] : nullptr;
			const bool alike = held != nullptr && next.SameAudio(*held)
				&& next.mainDataBegin == held->mainDataBegin;
			// In the first half of the overlap only where the encoders have
			// met; from its middle on, any frame that fits, for good or with
			// the frames after it.
			const bool late = offset >= fOverlap / 2;
			if ((forGood && (alike || late)) || (late && fits)) {
				found = true;
				return at;
			}
		} else if (fits) {
			fallback = at;
		}
		const bool lastChance = !haveHeld || at - fHeldFirst + 1 >= heldCount || offset + 1 >= fOverlap
			|| at + 1 - first >= count;
		if (lastChance || !room.Place(fHeld[static_cast<size_t>(at - fHeldFirst)])) {
			// No frame of the overlap fits: the latest of the later
			// encoder's warm-up frames that does (a fresh encoder saves
			// reservoir as it starts, which a running one has spent).
			found = fallback >= 0;
			return found ? fallback : at;
		}
	}
}

bool SegmentJoiner::Add(int64_t first, int64_t plannedStart, int64_t plannedEnd,
	std::vector<Mp3Frame> frames)
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
		bool found = false;
		const int64_t join = ChooseJoin(first, plannedStart, frames, found);
		if (join < 0)
			return false;
		// Where nothing fits, the frames that do not get a higher bit rate.
		while (fNext < join) {
			if (!Place(fHeld[static_cast<size_t>(fNext - fHeldFirst)]))
				return false;
		}
		fJoins.push_back(join);
		fHeld = std::move(frames);
		fHeldFirst = first;
	}
	// The frames up to where the next segment's may take over are final;
	// the rest wait for it.
	const int64_t heldEnd = fHeldFirst + static_cast<int64_t>(fHeld.size());
	const int64_t end = plannedEnd < 0 ? heldEnd : std::min(plannedEnd - fBack, heldEnd);
	while (fNext < end) {
		if (!Place(fHeld[static_cast<size_t>(fNext - fHeldFirst)]))
			return false;
	}
	// Only what the next join may use is needed any more.
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
