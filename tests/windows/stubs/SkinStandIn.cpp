// A resource module for the toolkit tests: Targa files made by ImageMagick,
// hostile ones and "LZMG" data, named by id in the SkinStandIn.rc that
// SkinStandInFiles.py writes.
