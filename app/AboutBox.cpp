#include "AboutBox.h"

#include "TamselApp.h"

#include <Alert.h>
#include <Roster.h>

#include <sstream>

// The project has no public address of its own yet; these reserved example
// addresses stand in until it has.
const char* const kAuthorWebAddress = "https://tamsel-gogo-frontend.example.org/";
namespace {
const char* const kAuthorMail = "developers@tamsel-gogo-frontend.example.org";
}

std::string BuildLine(const char* compilerDate, const char* compilerTime)
{
	// The compiler pads a one-digit day with a second space ("Dec  8 2026");
	// reading the words back joins them with single spaces.
	std::istringstream words(std::string(compilerDate) + " " + compilerTime);
	std::string line = "Compiled";
	std::string word;
	while (words >> word)
		line += " " + word;
	return line;
}

std::string AboutText()
{
	std::string text = "Tamsel Gogo Frontend 1.2a (English)\n";
	text += "2026 by the Tamsel Gogo Frontend developers\n";
	text += "\n";
	text += "\n";
	text += "\n";
	text += std::string("E-Mail: : ") + kAuthorMail + "\n";
	text += std::string("Web: : ") + kAuthorWebAddress + "\n";
	text += "\n";
	text += BuildLine(__DATE__, __TIME__);
	return text;
}

void TamselApp::AboutRequested()
{
	const std::string text = AboutText();
	BAlert* alert = new BAlert("AboutDialog", text.c_str(), "Go to site", "Close", nullptr,
		B_WIDTH_AS_USUAL, B_INFO_ALERT);
	if (alert->Go() == 0) {
		const char* args[] = {kAuthorWebAddress};
		be_roster->Launch("text/html", 1, args);
	}
}
