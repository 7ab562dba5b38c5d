"""One plug-in a reference reader: each gives TITLE (the summary's name), REFERENCE (the readers,
in words) and parts(arguments), the functions that hand the sweep their cases."""
