// Files handed to the page as its file dialog gives them: name -> bytes.
'use strict';

module.exports = (page, files) => page.evaluate((files) => {
  const given = new DataTransfer();
  for (const [name, base64] of Object.entries(files)) {
    given.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
  }
  const input = document.getElementById('pick-files');
  input.files = given.files;
  input.dispatchEvent(new Event('change'));
}, Object.fromEntries(Object.entries(files).map(([n, b]) => [n, b.toString('base64')])));
