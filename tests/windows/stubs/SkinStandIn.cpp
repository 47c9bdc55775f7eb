// A resource module for the toolkit tests: Targa variants made by ImageMagick,
// hand-made run-length files, hostile files and "LZMG" data, named by id in
// the SkinStandIn.rc that SkinStandInFiles.py writes.
