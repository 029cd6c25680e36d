/* Nothing but resources: the reader only looks at the file. */
int kestrix_version_dll;
