// Builds the pages into dist/ (or --outDir, which the CMake target sets). The dev server
// forwards the API to a heliqd on HELIQ_DEV_API (default http://127.0.0.1:8080), so the pages
// can be worked on before a host serves them.
import { defineConfig } from 'vite';

export default defineConfig({
  esbuild: { jsx: 'automatic', jsxImportSource: 'preact' },
  build: { target: 'es2020', sourcemap: false, assetsInlineLimit: 0 },
  server: {
    proxy: { '/api': process.env.HELIQ_DEV_API ?? 'http://127.0.0.1:8080' },
  },
});
