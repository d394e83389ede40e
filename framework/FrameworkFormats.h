#pragma once

// Registers the framework's own picture formats, in the framework's order: the metafiles, icons and
// bitmaps ("wmf", "emf", "ico", "bmp"), then the JPEG picture ("jpeg", "jpg"). Only classes that
// exist are registered.
void RegisterFrameworkFormats();
