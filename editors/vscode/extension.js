// The Quillwright extension's client: starts `quill lsp` for NAME.QWR files
// (the command is the setting quillwright.server.path, "quill" on PATH by
// default) and shows its diagnostics, hover, definitions and completion.
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

let client;

function activate(context) {
  const command = vscode.workspace.getConfiguration('quillwright').get('server.path') || 'quill';
  const server = { command, args: ['lsp'], transport: TransportKind.stdio };
  client = new LanguageClient('quillwright', 'Quillwright (quill lsp)', server, {
    documentSelector: [{ scheme: 'file', language: 'quillwright' }],
  });
  context.subscriptions.push({ dispose: () => client && client.stop() });
  return client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
