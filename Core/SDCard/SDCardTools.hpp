// Everything the program does directly on a memory card for the navigation
// unit, in one namespace: volumes and listing, card names, cleaning, exported
// albums and sending. Each part has its own header; this one gathers them.
#pragma once

#include "Core/SDCard/CardCleaning.hpp"
#include "Core/SDCard/CardNames.hpp"
#include "Core/SDCard/CardSending.hpp"
#include "Core/SDCard/CardVolumes.hpp"
#include "Core/SDCard/ExportedAlbums.hpp"
